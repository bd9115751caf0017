#pragma once

#include "mailhost/pst/messaging/Message.h"

#include <functional>

namespace parcelon::test {

// Calls `visit` for every attachment of every message in every folder of
// `store`, below its root folder; read failures fail the test.
void forEachAttachment(const pst::Store& store, const std::function<void(const pst::Message&, const pst::Attachment&)>& visit);

} // namespace parcelon::test
