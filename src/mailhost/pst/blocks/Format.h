#pragma once

#include <cstddef>
#include <cstdint>

namespace parcelon::pst {

// The three layouts a PST file can have, told apart by the header's wVer.
enum class Variant : std::uint8_t {
    Ansi,      // wVer 14/15: 32-bit ids and offsets
    Unicode,   // wVer 20..23: 64-bit ids and offsets
    Unicode4k, // wVer 36: Unicode with 4 KiB pages and zlib-compressed blocks
};

// Sizes and offsets that follow from the variant.
struct Format {
    Variant variant = Variant::Unicode;

    bool ansi() const { return variant == Variant::Ansi; }
    bool fourK() const { return variant == Variant::Unicode4k; }

    // Width of BIDs, file offsets and the 8-byte NID fields.
    std::size_t idSize() const { return ansi() ? 4 : 8; }

    std::size_t pageSize() const { return fourK() ? 4096 : 512; }
    std::size_t pageTrailerSize() const { return ansi() ? 12 : fourK() ? 24 : 16; }
    std::size_t pageTrailerOffset() const { return pageSize() - pageTrailerSize(); }

    // B-tree pages: the entry area, then cEnt, cEntMax, cbEnt, cLevel.
    std::size_t btEntryAreaSize() const { return ansi() ? 496 : fourK() ? 4056 : 488; }
    std::size_t btCountWidth() const { return fourK() ? 2 : 1; }

    std::size_t blockAlignment() const { return fourK() ? 512 : 64; }
    std::size_t blockTrailerSize() const { return ansi() ? 12 : fourK() ? 24 : 16; }
    std::size_t maxBlockDiskSize() const { return fourK() ? 65536 : 8192; }
    std::size_t maxBlockData() const { return maxBlockDiskSize() - blockTrailerSize(); }

    std::size_t blockDiskSize(std::size_t cb) const
    {
        const std::size_t a = blockAlignment();
        return (cb + blockTrailerSize() + a - 1) / a * a;
    }

    // Entry sizes in B-tree pages.
    std::size_t btEntrySize() const { return ansi() ? 12 : 24; }  // BTENTRY
    std::size_t bbtEntrySize() const { return ansi() ? 12 : 24; } // BBTENTRY
    std::size_t nbtEntrySize() const { return ansi() ? 16 : 32; } // NBTENTRY

    // Entry sizes in subnode blocks.
    std::size_t slEntrySize() const { return 3 * idSize(); }
    std::size_t siEntrySize() const { return 2 * idSize(); }
    std::size_t subnodeHeaderSize() const { return ansi() ? 4 : 8; }
};

// The signature of a page or block: the two halves of (ib ^ bid) combined.
inline std::uint16_t blockSignature(std::uint64_t ib, std::uint64_t bid)
{
    const auto x = static_cast<std::uint32_t>(ib ^ bid);
    return static_cast<std::uint16_t>((x >> 16) ^ (x & 0xFFFF));
}

// BID bit 1 marks an internal block (data tree or subnode tree).
inline bool isInternalBid(std::uint64_t bid)
{
    return (bid & 2) != 0;
}

// Bit 0 of a BID is reserved: references may carry it, lookups ignore it.
inline std::uint64_t cleanBid(std::uint64_t bid)
{
    return bid & ~std::uint64_t(1);
}

using Nid = std::uint32_t;

inline constexpr std::uint32_t nidType(Nid nid)
{
    return nid & 0x1F;
}

} // namespace parcelon::pst
