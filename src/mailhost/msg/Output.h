#pragma once

#include "mailhost/pst/bytes/Error.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <cstdint>
#include <functional>

namespace parcelon::msg {

// Where a writer puts its bytes: appended in order, or written at an offset
// that was appended before (tables and headers completed last).
struct Output {
    std::function<pst::Result<void>(pst::Bytes)> write;
    std::function<pst::Result<void>(std::uint64_t, pst::Bytes)> writeAt;
};

} // namespace parcelon::msg
