#include "mailhost/pst/bytes/Encoding.h"

#include "mailhost/pst/bytes/EncodingKernels.h"
#include "mailhost/pst/bytes/EncodingTables.h"

#include <cstring>

namespace parcelon::pst {

namespace {

const CodingKernel& kernel()
{
    static const CodingKernel& best = codingKernels().front();
    return best;
}

// The cyclic method's key word: the low 32 bits of the block's id with bit 0
// cleared, folded to 16 bits.
std::uint16_t cyclicWord(std::uint64_t bid)
{
    const auto key = static_cast<std::uint32_t>(bid & ~std::uint64_t(1));
    return static_cast<std::uint16_t>(key ^ (key >> 16));
}

} // namespace

void permuteEncode(std::span<std::uint8_t> data)
{
    kernel().substitute(tables::kR.data(), data.data(), data.data(), data.size());
}

void permuteDecode(std::span<std::uint8_t> data)
{
    kernel().substitute(tables::kI.data(), data.data(), data.data(), data.size());
}

void cyclicCode(std::span<std::uint8_t> data, std::uint32_t key)
{
    kernel().cyclic(data.data(), data.data(), data.size(), static_cast<std::uint16_t>(key ^ (key >> 16)));
}

void decodeBlockInto(Encoding encoding, std::span<const std::uint8_t> stored, std::uint8_t* out, std::uint64_t bid)
{
    switch (encoding) {
    case Encoding::None:
        std::memmove(out, stored.data(), stored.size());
        break;
    case Encoding::Permute:
        kernel().substitute(tables::kI.data(), stored.data(), out, stored.size());
        break;
    case Encoding::Cyclic:
        kernel().cyclic(stored.data(), out, stored.size(), cyclicWord(bid));
        break;
    }
}

void decodeBlock(Encoding encoding, std::span<std::uint8_t> data, std::uint64_t bid)
{
    decodeBlockInto(encoding, data, data.data(), bid);
}

void encodeBlock(Encoding encoding, std::span<std::uint8_t> data, std::uint64_t bid)
{
    if (encoding == Encoding::Permute)
        permuteEncode(data);
    else
        decodeBlock(encoding, data, bid); // the other two are their own inverse
}

} // namespace parcelon::pst
