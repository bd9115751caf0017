#pragma once

#include "mailhost/pst/blocks/Layout.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <cstddef>
#include <cstdint>

namespace parcelon::pst {

// The three layouts a PST file can have, told apart by the header's wVer.
enum class Variant : std::uint8_t {
    Ansi,      // wVer 14/15: 32-bit ids and offsets
    Unicode,   // wVer 20..23: 64-bit ids and offsets
    Unicode4k, // wVer 36: Unicode with 4 KiB pages and zlib-compressed blocks
};

// Sizes and layouts that follow from the variant.
struct Format {
    Variant variant = Variant::Unicode;

    bool ansi() const { return variant == Variant::Ansi; }
    bool fourK() const { return variant == Variant::Unicode4k; }

    const layout::Layouts& layouts() const { return ansi() ? layout::kAnsi : fourK() ? layout::kUnicode4k : layout::kUnicode; }

    // Width of BIDs, file offsets and the 8-byte NID fields.
    std::size_t idSize() const { return layouts().bref.bid.size; }

    std::size_t pageSize() const { return layouts().pageSize; }
    std::size_t pageTrailerSize() const { return layouts().pageTrailer.size(); }
    std::size_t pageTrailerOffset() const { return pageSize() - pageTrailerSize(); }

    std::size_t blockAlignment() const { return layouts().blockAlignment; }
    std::size_t blockTrailerSize() const { return layouts().blockTrailer.size(); }
    std::size_t maxBlockDiskSize() const { return layouts().maxBlockDiskSize; }
    std::size_t maxBlockData() const { return maxBlockDiskSize() - blockTrailerSize(); }

    std::size_t blockDiskSize(std::size_t cb) const
    {
        const std::size_t a = blockAlignment();
        return (cb + blockTrailerSize() + a - 1) / a * a;
    }
};

// A reference to a page or block: its id and its file offset.
struct BlockRef {
    std::uint64_t bid = 0;
    std::uint64_t ib = 0;
};

// The BREF at `offset` of `bytes`.
inline BlockRef readBref(const Format& f, const SpanReader& bytes, std::size_t offset)
{
    const layout::Bref& l = f.layouts().bref;
    return {bytes.field(l.bid, offset), bytes.field(l.ib, offset)};
}

// The trailer of a page: its kind, signature, checksum and id.
struct PageTrailer {
    std::uint8_t ptype = 0;
    std::uint8_t ptypeRepeat = 0;
    std::uint16_t wSig = 0;
    std::uint32_t dwCRC = 0;
    std::uint64_t bid = 0;
};

// Reads the trailer of a page of pageSize() bytes.
inline PageTrailer readPageTrailer(const Format& f, Bytes page)
{
    const layout::PageTrailer& l = f.layouts().pageTrailer;
    const SpanReader p(page);
    const std::size_t t = f.pageTrailerOffset();
    return {static_cast<std::uint8_t>(p.field(l.ptype, t)), static_cast<std::uint8_t>(p.field(l.ptypeRepeat, t)),
            static_cast<std::uint16_t>(p.field(l.wSig, t)), static_cast<std::uint32_t>(p.field(l.dwCRC, t)), p.field(l.bid, t)};
}

// The trailer of a block: its size, signature, checksum and id.
struct BlockTrailer {
    std::uint16_t cb = 0;
    std::uint16_t wSig = 0;
    std::uint32_t dwCRC = 0;
    std::uint64_t bid = 0;
};

// Reads the trailer of a block from its bytes on disk (blockDiskSize() of them).
inline BlockTrailer readBlockTrailer(const Format& f, Bytes disk)
{
    const layout::BlockTrailer& l = f.layouts().blockTrailer;
    const SpanReader b(disk);
    const std::size_t t = disk.size() - f.blockTrailerSize();
    return {static_cast<std::uint16_t>(b.field(l.cb, t)), static_cast<std::uint16_t>(b.field(l.wSig, t)),
            static_cast<std::uint32_t>(b.field(l.dwCRC, t)), b.field(l.bid, t)};
}

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
