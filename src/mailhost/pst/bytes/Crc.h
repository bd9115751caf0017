#pragma once

#include <cstdint>
#include <span>

namespace parcelon::pst {

// The format's CRC-32: reflected polynomial 0xEDB88320, initial value 0 and
// no final inversion ("123456789" gives 0x2DFD2D88). `previous` continues a
// CRC over data split into pieces.
std::uint32_t pstCrc(std::span<const std::uint8_t> data, std::uint32_t previous = 0);

} // namespace parcelon::pst
