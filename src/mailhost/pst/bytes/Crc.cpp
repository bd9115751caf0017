#include "mailhost/pst/bytes/Crc.h"

#include <zlib.h>

namespace parcelon::pst {

std::uint32_t pstCrc(std::span<const std::uint8_t> data, std::uint32_t previous)
{
    // zlib inverts the register before and after; inverting around it gives
    // the format's variant.
    return ~static_cast<std::uint32_t>(crc32_z(~previous, data.data(), data.size()));
}

} // namespace parcelon::pst
