#pragma once

#include "mailhost/pst/blocks/Layout.h"

#include <cstddef>
#include <cstdint>

// The on-disk layouts of the heap, the B-tree on the heap and the tables,
// alike in every variant. Offsets are from the start of the structure.
namespace parcelon::pst::layout {

// HNHDR: the start of a heap's first block.
struct HNHeader {
    Field ibHnpm;       // offset of the block's page map
    Field bSig;         // 0xEC
    Field bClientSig;   // what the heap holds: a table, properties, ...
    Field hidUserRoot;  // the allocation its holder starts from
    Field rgbFillLevel; // fill levels of blocks 0..7 (ignored)

    constexpr std::size_t size() const { return extent(std::array{ibHnpm, bSig, bClientSig, hidUserRoot, rgbFillLevel}); }
};

inline constexpr HNHeader kHNHeader{{0, 2}, {2, 1}, {3, 1}, {4, 4}, {8, 4}};
inline constexpr std::uint8_t bSigHeap = 0xEC;

// HNPAGEHDR: the start of every further block but those of HNBITMAPHDR.
struct HNPageHeader {
    Field ibHnpm; // offset of the block's page map

    constexpr std::size_t size() const { return extent(std::array{ibHnpm}); }
};

inline constexpr HNPageHeader kHNPageHeader{{0, 2}};

// HNBITMAPHDR: the start of blocks 8, 136, 264, ... (every 128 from 8).
struct HNBitmapHeader {
    Field ibHnpm;       // offset of the block's page map
    Field rgbFillLevel; // fill levels of the next 128 blocks (ignored)

    constexpr std::size_t size() const { return extent(std::array{ibHnpm, rgbFillLevel}); }
};

inline constexpr HNBitmapHeader kHNBitmapHeader{{0, 2}, {2, 64}};

constexpr bool isBitmapBlock(std::size_t block)
{
    return block % 128 == 8;
}

// HNPAGEMAP: where a heap block's allocations lie.
struct HNPageMap {
    Field cAlloc;              // allocations in the block
    Field cFree;               // allocations freed
    std::size_t rgibAlloc = 4; // cAlloc + 1 offsets of 2 bytes: allocation k spans [rgibAlloc[k-1], rgibAlloc[k])
    std::size_t ibAllocSize = 2;

    constexpr std::size_t size() const { return extent(std::array{cAlloc, cFree}); }
};

inline constexpr HNPageMap kHNPageMap{{0, 2}, {2, 2}, 4, 2};

// BTHHEADER: the allocation a B-tree on the heap starts from.
struct BTHHeader {
    Field bType;      // 0xB5
    Field cbKey;      // the size of a key
    Field cbEnt;      // the size of a leaf record's data
    Field bIdxLevels; // levels above the leaf records; 0: hidRoot names leaf records
    Field hidRoot;    // the top records; 0 for an empty tree

    constexpr std::size_t size() const { return extent(std::array{bType, cbKey, cbEnt, bIdxLevels, hidRoot}); }
};

inline constexpr BTHHeader kBTHHeader{{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 4}};
inline constexpr std::uint8_t bTypeBTH = 0xB5;
// An index record: a key, then the allocation of the level below.
inline constexpr std::size_t kBTHIndexDataSize = 4;

// A record of a property context: the data after its 2-byte property id.
struct PCRecordData {
    Field wPropType;   // the property's type
    Field dwValueHnid; // the value itself, or where it lies

    constexpr std::size_t size() const { return extent(std::array{wPropType, dwValueHnid}); }
};

inline constexpr PCRecordData kPCRecordData{{0, 2}, {2, 4}};

// TCINFO: the allocation a table context starts from.
struct TCInfo {
    Field bType;                 // 0x7C
    Field cCols;                 // columns
    Field rgib4b;                // the end of the 8- and 4-byte cells
    Field rgib2b;                // the end of the 2-byte cells
    Field rgib1b;                // the end of the 1-byte cells: the start of the cell existence bitmap
    Field rgibBm;                // the end of the bitmap: the row size
    Field hidRowIndex;           // the row index, a B-tree on the heap
    Field hnidRows;              // the row matrix: 0 for none, an allocation or a subnode
    Field hidIndex;              // deprecated
    std::size_t rgTCOLDESC = 22; // cCols column descriptions, by tag

    constexpr std::size_t size() const
    {
        return extent(std::array{bType, cCols, rgib4b, rgib2b, rgib1b, rgibBm, hidRowIndex, hnidRows, hidIndex});
    }
};

inline constexpr TCInfo kTCInfo{{0, 1}, {1, 1}, {2, 2}, {4, 2}, {6, 2}, {8, 2}, {10, 4}, {14, 4}, {18, 4}, 22};
inline constexpr std::uint8_t bTypeTC = 0x7C;

// TCOLDESC: a column of a table context.
struct TCColumn {
    Field tag;    // property id << 16 | type
    Field ibData; // the cell's offset in a row
    Field cbData; // the cell's size
    Field iBit;   // the column's bit in the cell existence bitmap

    constexpr std::size_t size() const { return extent(std::array{tag, ibData, cbData, iBit}); }
};

inline constexpr TCColumn kTCColumn{{0, 4}, {4, 2}, {6, 1}, {7, 1}};

static_assert(kHNHeader.size() == 12 && kHNPageHeader.size() == 2 && kHNBitmapHeader.size() == 66);
static_assert(kHNPageMap.size() == kHNPageMap.rgibAlloc && kBTHHeader.size() == 8 && kPCRecordData.size() == 6);
static_assert(kTCInfo.size() == kTCInfo.rgTCOLDESC && kTCColumn.size() == 8);

} // namespace parcelon::pst::layout
