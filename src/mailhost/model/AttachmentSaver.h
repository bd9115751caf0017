#pragma once

#include "mailhost/pst/messaging/Message.h"

#include <QString>

#include <functional>
#include <optional>

namespace parcelon::mailhost {

// The name an attachment is saved under: its long file name, else its file
// name, else a name made from its display name; an attached message takes
// its display name or subject with ".msg". Names the engine makes up have
// separators and NULs replaced; stored file names are kept as they are.
QString attachmentFileName(const pst::Attachment& attachment);

// Writes the attachment's content to a new file at `path`. `name` is the
// attachment's file name: one that holds a separator or NUL, or is "." or
// "..", is refused. `readAhead` is the content when it was read already.
pst::Result<void> saveAttachment(const pst::Attachment& attachment, const QString& name, const QString& path,
                                 std::optional<pst::Bytes> readAhead = std::nullopt);

// Writes content that is not stored as an attachment of its own (a file
// inside a signed message) into a new file at `path`, under the same rules
// for `name`; `write` hands the content to the sink piece by piece, and
// `what` says where it comes from.
using ContentSink = std::function<pst::Result<void>(pst::Bytes)>;
pst::Result<void> saveContent(const QString& name, const QString& what, const QString& path,
                              const std::function<pst::Result<void>(const ContentSink&)>& write);

} // namespace parcelon::mailhost
