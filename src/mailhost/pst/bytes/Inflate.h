#pragma once

#include <cstdint>
#include <span>

namespace parcelon::pst {

// Inflates a whole zlib stream into `out`; true when it is a valid stream
// of exactly out.size() bytes. Any thread may call it.
bool inflateZlib(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out);

} // namespace parcelon::pst
