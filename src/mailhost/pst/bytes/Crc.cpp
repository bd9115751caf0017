#include "mailhost/pst/bytes/Crc.h"

#include <libdeflate.h>

namespace parcelon::pst {

std::uint32_t pstCrc(std::span<const std::uint8_t> data, std::uint32_t previous)
{
    // libdeflate (as zlib) inverts the register before and after; inverting
    // around it gives the format's variant.
    return ~libdeflate_crc32(~previous, data.data(), data.size());
}

} // namespace parcelon::pst
