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

// The cyclic method's 32-bit key folded to its 16-bit starting word.
std::uint16_t keyWord(std::uint32_t key)
{
    return static_cast<std::uint16_t>(key ^ (key >> 16));
}

// The key of a block: the low 32 bits of its id with bit 0 cleared.
std::uint16_t cyclicWord(std::uint64_t bid)
{
    return keyWord(static_cast<std::uint32_t>(bid & ~std::uint64_t(1)));
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
    kernel().cyclic(data.data(), data.data(), data.size(), keyWord(key));
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
