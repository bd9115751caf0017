#pragma once

#include <cstdint>
#include <span>

namespace parcelon::pst {

// How the data blocks of a file are encoded (the header's bCryptMethod).
enum class Encoding : std::uint8_t {
    None = 0,
    Permute = 1, // "compressible"
    Cyclic = 2,  // "high"
};

void permuteEncode(std::span<std::uint8_t> data);
void permuteDecode(std::span<std::uint8_t> data);

// The cyclic method is its own inverse; the key is the low 32 bits of the
// block's id with bit 0 cleared.
void cyclicCode(std::span<std::uint8_t> data, std::uint32_t key);

// Decodes (or encodes) the bytes of one data block whose id is `bid`.
void decodeBlock(Encoding encoding, std::span<std::uint8_t> data, std::uint64_t bid);

// Decodes `stored` into `out` (of the same size) in one pass; `out` may be
// `stored` itself or lie before it (a block moved down as it is decoded).
void decodeBlockInto(Encoding encoding, std::span<const std::uint8_t> stored, std::uint8_t* out, std::uint64_t bid);
void encodeBlock(Encoding encoding, std::span<std::uint8_t> data, std::uint64_t bid);

} // namespace parcelon::pst
