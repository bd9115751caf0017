#pragma once

#include "mailhost/pst/bytes/SpanReader.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

// The on-disk layouts of the node and block layer: the file header, pages,
// B-tree entries and blocks, one declaration per variant (ANSI; Unicode;
// Unicode with 4 KiB pages where it differs). Offsets are from the start of
// the structure; a field of width 0 is one the variant does not have.
namespace parcelon::pst::layout {

// The extent of a structure whose fields cover [0, extent) without gap or
// overlap (fields of width 0 left out); 0 when they do not.
template <std::size_t N>
constexpr std::size_t extent(std::array<Field, N> fields)
{
    std::sort(fields.begin(), fields.end(), [](Field a, Field b) { return a.offset < b.offset; });
    std::size_t at = 0;
    for (const Field& f : fields) {
        if (f.size == 0)
            continue;
        if (f.offset != at)
            return 0;
        at = f.end();
    }
    return at;
}

// BREF: a reference to a page or block.
struct Bref {
    Field bid; // its id
    Field ib;  // its absolute file offset

    constexpr std::size_t size() const { return extent(std::array{bid, ib}); }
};

inline constexpr Bref kAnsiBref{{0, 4}, {4, 4}};
inline constexpr Bref kUnicodeBref{{0, 8}, {8, 8}};

// ROOT: the header's part that leads to the B-trees, offsets from its start.
struct Root {
    Field dwReserved; // 0
    Field ibFileEof;  // the file's size
    Field ibAMapLast; // offset of the last allocation map page
    Field cbAMapFree; // free bytes in all allocation maps
    Field cbPMapFree; // free bytes in all page maps
    Field BREFNBT;    // root page of the node B-tree (a BREF)
    Field BREFBBT;    // root page of the block B-tree (a BREF)
    Field fAMapValid; // 0 invalid, 1 or 2 valid allocation maps
    Field bReserved;
    Field wReserved;

    constexpr std::size_t size() const
    {
        return extent(std::array{dwReserved, ibFileEof, ibAMapLast, cbAMapFree, cbPMapFree, BREFNBT, BREFBBT, fAMapValid,
                                 bReserved, wReserved});
    }
};

inline constexpr Root kAnsiRoot{{0, 4}, {4, 4}, {8, 4}, {12, 4}, {16, 4}, {20, 8}, {28, 8}, {36, 1}, {37, 1}, {38, 2}};
inline constexpr Root kUnicodeRoot{{0, 4}, {4, 8}, {12, 8}, {20, 8}, {28, 8}, {36, 16}, {52, 16}, {68, 1}, {69, 1}, {70, 2}};

// HEADER: the start of the file. 4 KiB-page files use the Unicode layout.
struct Header {
    Field dwMagic;         // "!BDN"
    Field dwCRCPartial;    // CRC of `partialCrcBytes`
    Field wMagicClient;    // "SM" PST, "SO" OST, "AB" PAB
    Field wVer;            // 14/15 ANSI, 20..23 Unicode, 36 Unicode with 4 KiB pages
    Field wVerClient;      // 19 PST, 12 OST
    Field bPlatformCreate; // 1
    Field bPlatformAccess; // 1
    Field dwReserved1;
    Field dwReserved2;
    Field bidUnused;    // Unicode only
    Field bidNextB;     // the next block id (ANSI keeps it here, Unicode near the end)
    Field bidNextP;     // the next page id
    Field dwUnique;     // bumped at every rewrite of the header
    Field rgnid;        // the last node index handed out, per node type (32 of 4 bytes)
    Field qwUnused;     // Unicode only
    Field root;         // ROOT
    Field dwAlign;      // Unicode only
    Field rgbFM;        // the deprecated free map
    Field rgbFP;        // the deprecated free page map
    Field bSentinel;    // 0x80
    Field bCryptMethod; // how data blocks are encoded: 0 none, 1 permutation, 2 cyclic
    Field rgbReserved;
    Field ullReserved; // ANSI only
    Field dwReserved;  // ANSI only
    Field dwCRCFull;   // Unicode only: CRC of `fullCrcBytes`
    Field rgbReserved2;
    Field bReserved;
    Field rgbReserved3;

    Field partialCrcBytes; // the bytes dwCRCPartial covers
    Field fullCrcBytes;    // the bytes dwCRCFull covers (Unicode only)

    constexpr std::size_t size() const
    {
        return extent(std::array{dwMagic,         dwCRCPartial, wMagicClient, wVer,        wVerClient,  bPlatformCreate,
                                 bPlatformAccess, dwReserved1,  dwReserved2,  bidUnused,   bidNextB,    bidNextP,
                                 dwUnique,        rgnid,        qwUnused,     root,        dwAlign,     rgbFM,
                                 rgbFP,           bSentinel,    bCryptMethod, rgbReserved, ullReserved, dwReserved,
                                 dwCRCFull,       rgbReserved2, bReserved,    rgbReserved3});
    }
};

inline constexpr Header kAnsiHeader{
    .dwMagic = {0, 4},
    .dwCRCPartial = {4, 4},
    .wMagicClient = {8, 2},
    .wVer = {10, 2},
    .wVerClient = {12, 2},
    .bPlatformCreate = {14, 1},
    .bPlatformAccess = {15, 1},
    .dwReserved1 = {16, 4},
    .dwReserved2 = {20, 4},
    .bidUnused = {},
    .bidNextB = {24, 4},
    .bidNextP = {28, 4},
    .dwUnique = {32, 4},
    .rgnid = {36, 128},
    .qwUnused = {},
    .root = {164, 40},
    .dwAlign = {},
    .rgbFM = {204, 128},
    .rgbFP = {332, 128},
    .bSentinel = {460, 1},
    .bCryptMethod = {461, 1},
    .rgbReserved = {462, 2},
    .ullReserved = {464, 8},
    .dwReserved = {472, 4},
    .dwCRCFull = {},
    .rgbReserved2 = {476, 3},
    .bReserved = {479, 1},
    .rgbReserved3 = {480, 32},
    .partialCrcBytes = {8, 471},
    .fullCrcBytes = {},
};

inline constexpr Header kUnicodeHeader{
    .dwMagic = {0, 4},
    .dwCRCPartial = {4, 4},
    .wMagicClient = {8, 2},
    .wVer = {10, 2},
    .wVerClient = {12, 2},
    .bPlatformCreate = {14, 1},
    .bPlatformAccess = {15, 1},
    .dwReserved1 = {16, 4},
    .dwReserved2 = {20, 4},
    .bidUnused = {24, 8},
    .bidNextB = {516, 8},
    .bidNextP = {32, 8},
    .dwUnique = {40, 4},
    .rgnid = {44, 128},
    .qwUnused = {172, 8},
    .root = {180, 72},
    .dwAlign = {252, 4},
    .rgbFM = {256, 128},
    .rgbFP = {384, 128},
    .bSentinel = {512, 1},
    .bCryptMethod = {513, 1},
    .rgbReserved = {514, 2},
    .ullReserved = {},
    .dwReserved = {},
    .dwCRCFull = {524, 4},
    .rgbReserved2 = {528, 3},
    .bReserved = {531, 1},
    .rgbReserved3 = {532, 32},
    .partialCrcBytes = {8, 471},
    .fullCrcBytes = {8, 516},
};

// PAGETRAILER: the last bytes of every page.
struct PageTrailer {
    Field ptype;       // what the page is (the kinds below)
    Field ptypeRepeat; // ptype again
    Field wSig;        // signature of the page's offset and id; 0 for the maps
    Field dwCRC;       // CRC of the page's bytes before the trailer
    Field bid;         // the page's id (the maps: their own offset)
    Field unknown;     // 4 KiB pages only

    constexpr std::size_t size() const { return extent(std::array{ptype, ptypeRepeat, wSig, dwCRC, bid, unknown}); }
};

// ANSI keeps bid before dwCRC.
inline constexpr PageTrailer kAnsiPageTrailer{{0, 1}, {1, 1}, {2, 2}, {8, 4}, {4, 4}, {}};
inline constexpr PageTrailer kUnicodePageTrailer{{0, 1}, {1, 1}, {2, 2}, {4, 4}, {8, 8}, {}};
inline constexpr PageTrailer kUnicode4kPageTrailer{{0, 1}, {1, 1}, {2, 2}, {4, 4}, {8, 8}, {16, 8}};

// Page kinds (ptype).
inline constexpr std::uint8_t ptypeBBT = 0x80;
inline constexpr std::uint8_t ptypeNBT = 0x81;
inline constexpr std::uint8_t ptypeAMap = 0x84;

// BTPAGE: a page of the node or block B-tree.
struct BTPage {
    Field rgentries; // the entries, packed from the page's start
    Field cEnt;      // entries in use
    Field cEntMax;   // entries that fit
    Field cbEnt;     // the size of one entry
    Field cLevel;    // 0 for a leaf; the root has the highest level
    Field dwPadding;
    Field trailer; // PAGETRAILER

    constexpr std::size_t size() const { return extent(std::array{rgentries, cEnt, cEntMax, cbEnt, cLevel, dwPadding, trailer}); }
};

inline constexpr BTPage kAnsiBTPage{{0, 496}, {496, 1}, {497, 1}, {498, 1}, {499, 1}, {}, {500, 12}};
inline constexpr BTPage kUnicodeBTPage{{0, 488}, {488, 1}, {489, 1}, {490, 1}, {491, 1}, {492, 4}, {496, 16}};
inline constexpr BTPage kUnicode4kBTPage{{0, 4056}, {4056, 2}, {4058, 2}, {4060, 1}, {4061, 1}, {4062, 10}, {4072, 24}};

// AMAPPAGE: an allocation map, one bit per slot of the section it begins.
struct AMapPage {
    Field dwPadding;   // ANSI only
    Field rgbAMapBits; // most significant bit first; 1: allocated
    Field trailer;     // PAGETRAILER

    constexpr std::size_t size() const { return extent(std::array{dwPadding, rgbAMapBits, trailer}); }
};

inline constexpr AMapPage kAnsiAMapPage{{0, 4}, {4, 496}, {500, 12}};
inline constexpr AMapPage kUnicodeAMapPage{{}, {0, 496}, {496, 16}};
inline constexpr AMapPage kUnicode4kAMapPage{{}, {0, 4072}, {4072, 24}};

// BTENTRY: an entry of a B-tree page above the leaves.
struct BTEntry {
    Field btkey; // the lowest key in the child page
    Field BREF;  // the child page

    constexpr std::size_t size() const { return extent(std::array{btkey, BREF}); }
};

inline constexpr BTEntry kAnsiBTEntry{{0, 4}, {4, 8}};
inline constexpr BTEntry kUnicodeBTEntry{{0, 8}, {8, 16}};

// BBTENTRY: a leaf entry of the block B-tree.
struct BBTEntry {
    Field BREF;       // the block (its id is the key)
    Field cb;         // bytes stored (4 KiB pages: compressed)
    Field cbInflated; // 4 KiB pages only: bytes after inflating
    Field cRef;       // references to the block, plus one
    Field dwPadding;

    constexpr std::size_t size() const { return extent(std::array{BREF, cb, cbInflated, cRef, dwPadding}); }
};

inline constexpr BBTEntry kAnsiBBTEntry{{0, 8}, {8, 2}, {}, {10, 2}, {}};
inline constexpr BBTEntry kUnicodeBBTEntry{{0, 16}, {16, 2}, {}, {18, 2}, {20, 4}};
inline constexpr BBTEntry kUnicode4kBBTEntry{{0, 16}, {16, 2}, {18, 2}, {20, 2}, {22, 2}};

// NBTENTRY: a leaf entry of the node B-tree.
struct NBTEntry {
    Field nid;       // the key; node ids are 32 bits wide even in 8-byte fields
    Field bidData;   // data block or data tree; 0 for none
    Field bidSub;    // subnode block; 0 for none
    Field nidParent; // the parent folder of a folder or message
    Field dwPadding;

    constexpr std::size_t size() const { return extent(std::array{nid, bidData, bidSub, nidParent, dwPadding}); }
};

inline constexpr NBTEntry kAnsiNBTEntry{{0, 4}, {4, 4}, {8, 4}, {12, 4}, {}};
inline constexpr NBTEntry kUnicodeNBTEntry{{0, 8}, {8, 8}, {16, 8}, {24, 4}, {28, 4}};

// BLOCKTRAILER: the last bytes of a block's slots on disk.
struct BlockTrailer {
    Field cb;         // data bytes, as the block B-tree gives them
    Field wSig;       // signature of the block's offset and id
    Field dwCRC;      // CRC of the cb stored bytes
    Field bid;        // the block's id
    Field wUnknown;   // 4 KiB pages only
    Field cbInflated; // 4 KiB pages only: bytes after inflating
    Field dwUnknown;  // 4 KiB pages only

    constexpr std::size_t size() const { return extent(std::array{cb, wSig, dwCRC, bid, wUnknown, cbInflated, dwUnknown}); }
};

// ANSI keeps bid before dwCRC.
inline constexpr BlockTrailer kAnsiBlockTrailer{{0, 2}, {2, 2}, {8, 4}, {4, 4}, {}, {}, {}};
inline constexpr BlockTrailer kUnicodeBlockTrailer{{0, 2}, {2, 2}, {4, 4}, {8, 8}, {}, {}, {}};
inline constexpr BlockTrailer kUnicode4kBlockTrailer{{0, 2}, {2, 2}, {4, 4}, {8, 8}, {16, 2}, {18, 2}, {20, 4}};

// XBLOCK and XXBLOCK: the internal blocks of a data tree. Alike in every
// variant but for the width of the ids that follow.
struct XBlock {
    Field btype;           // 0x01
    Field cLevel;          // 1 XBLOCK (data blocks below), 2 XXBLOCK (XBLOCKs below)
    Field cEnt;            // ids that follow
    Field lcbTotal;        // the bytes of the whole tree below
    std::size_t rgbid = 8; // the child ids, in stream order

    constexpr std::size_t size() const { return extent(std::array{btype, cLevel, cEnt, lcbTotal}); }
};

inline constexpr XBlock kXBlock{{0, 1}, {1, 1}, {2, 2}, {4, 4}, 8};
inline constexpr std::uint8_t btypeDataTree = 0x01;

// SLBLOCK and SIBLOCK: the blocks of a subnode tree.
struct SubnodeBlock {
    Field btype;         // 0x02
    Field cLevel;        // 0 SLBLOCK (entries are SLENTRYs), 1 SIBLOCK (SIENTRYs)
    Field cEnt;          // entries that follow
    Field dwPadding;     // Unicode only
    std::size_t entries; // the first entry

    constexpr std::size_t size() const { return extent(std::array{btype, cLevel, cEnt, dwPadding}); }
};

inline constexpr SubnodeBlock kAnsiSubnodeBlock{{0, 1}, {1, 1}, {2, 2}, {}, 4};
inline constexpr SubnodeBlock kUnicodeSubnodeBlock{{0, 1}, {1, 1}, {2, 2}, {4, 4}, 8};
inline constexpr std::uint8_t btypeSubnodeTree = 0x02;

// SLENTRY: a subnode (leaf level).
struct SLEntry {
    Field nid;     // the subnode's id (Unicode: the upper half may hold anything)
    Field bidData; // its data
    Field bidSub;  // its own subnodes; 0 for none

    constexpr std::size_t size() const { return extent(std::array{nid, bidData, bidSub}); }
};

inline constexpr SLEntry kAnsiSLEntry{{0, 4}, {4, 4}, {8, 4}};
inline constexpr SLEntry kUnicodeSLEntry{{0, 8}, {8, 8}, {16, 8}};

// SIENTRY: a child SLBLOCK (level above the leaves).
struct SIEntry {
    Field nid; // the lowest subnode id below
    Field bid; // the SLBLOCK

    constexpr std::size_t size() const { return extent(std::array{nid, bid}); }
};

inline constexpr SIEntry kAnsiSIEntry{{0, 4}, {4, 4}};
inline constexpr SIEntry kUnicodeSIEntry{{0, 8}, {8, 8}};

// Every layout of one variant.
struct Layouts {
    std::size_t pageSize;         // pages lie at multiples of it
    std::size_t blockAlignment;   // blocks take whole slots of this size
    std::size_t maxBlockDiskSize; // the most a block may take, trailer included
    Header header;
    Root root;
    Bref bref;
    PageTrailer pageTrailer;
    BTPage btPage;
    AMapPage amapPage;
    BTEntry btEntry;
    BBTEntry bbtEntry;
    NBTEntry nbtEntry;
    BlockTrailer blockTrailer;
    SubnodeBlock subnodeBlock;
    SLEntry slEntry;
    SIEntry siEntry;
};

inline constexpr Layouts kAnsi{
    .pageSize = 512,
    .blockAlignment = 64,
    .maxBlockDiskSize = 8192,
    .header = kAnsiHeader,
    .root = kAnsiRoot,
    .bref = kAnsiBref,
    .pageTrailer = kAnsiPageTrailer,
    .btPage = kAnsiBTPage,
    .amapPage = kAnsiAMapPage,
    .btEntry = kAnsiBTEntry,
    .bbtEntry = kAnsiBBTEntry,
    .nbtEntry = kAnsiNBTEntry,
    .blockTrailer = kAnsiBlockTrailer,
    .subnodeBlock = kAnsiSubnodeBlock,
    .slEntry = kAnsiSLEntry,
    .siEntry = kAnsiSIEntry,
};
inline constexpr Layouts kUnicode{
    .pageSize = 512,
    .blockAlignment = 64,
    .maxBlockDiskSize = 8192,
    .header = kUnicodeHeader,
    .root = kUnicodeRoot,
    .bref = kUnicodeBref,
    .pageTrailer = kUnicodePageTrailer,
    .btPage = kUnicodeBTPage,
    .amapPage = kUnicodeAMapPage,
    .btEntry = kUnicodeBTEntry,
    .bbtEntry = kUnicodeBBTEntry,
    .nbtEntry = kUnicodeNBTEntry,
    .blockTrailer = kUnicodeBlockTrailer,
    .subnodeBlock = kUnicodeSubnodeBlock,
    .slEntry = kUnicodeSLEntry,
    .siEntry = kUnicodeSIEntry,
};
inline constexpr Layouts kUnicode4k{
    .pageSize = 4096,
    .blockAlignment = 512,
    .maxBlockDiskSize = 65536,
    .header = kUnicodeHeader,
    .root = kUnicodeRoot,
    .bref = kUnicodeBref,
    .pageTrailer = kUnicode4kPageTrailer,
    .btPage = kUnicode4kBTPage,
    .amapPage = kUnicode4kAMapPage,
    .btEntry = kUnicodeBTEntry,
    .bbtEntry = kUnicode4kBBTEntry,
    .nbtEntry = kUnicodeNBTEntry,
    .blockTrailer = kUnicode4kBlockTrailer,
    .subnodeBlock = kUnicodeSubnodeBlock,
    .slEntry = kUnicodeSLEntry,
    .siEntry = kUnicodeSIEntry,
};

// The declarations against the sizes the format gives its structures.
static_assert(kAnsiHeader.size() == 512 && kUnicodeHeader.size() == 564);
static_assert(kAnsiHeader.root.size == kAnsiRoot.size() && kUnicodeHeader.root.size == kUnicodeRoot.size());
static_assert(kAnsiRoot.BREFNBT.size == kAnsiBref.size() && kUnicodeRoot.BREFNBT.size == kUnicodeBref.size());
static_assert(kAnsiHeader.fullCrcBytes.size == 0 && kUnicodeHeader.fullCrcBytes.end() == kUnicodeHeader.dwCRCFull.offset);
static_assert(kAnsiPageTrailer.size() == 12 && kUnicodePageTrailer.size() == 16 && kUnicode4kPageTrailer.size() == 24);
static_assert(kAnsiBlockTrailer.size() == 12 && kUnicodeBlockTrailer.size() == 16 && kUnicode4kBlockTrailer.size() == 24);
static_assert(kAnsiBTEntry.size() == 12 && kUnicodeBTEntry.size() == 24);
static_assert(kAnsiBBTEntry.size() == 12 && kUnicodeBBTEntry.size() == 24 && kUnicode4kBBTEntry.size() == 24);
static_assert(kAnsiNBTEntry.size() == 16 && kUnicodeNBTEntry.size() == 32);
static_assert(kXBlock.size() == kXBlock.rgbid);
static_assert(kAnsiSubnodeBlock.size() == kAnsiSubnodeBlock.entries
              && kUnicodeSubnodeBlock.size() == kUnicodeSubnodeBlock.entries);
static_assert(kAnsiSLEntry.size() == 12 && kUnicodeSLEntry.size() == 24 && kAnsiSIEntry.size() == 8
              && kUnicodeSIEntry.size() == 16);

constexpr bool consistent(const Layouts& l)
{
    // Pages end with their trailer; every entry kind starts with its key,
    // as wide as an id.
    return l.btPage.size() == l.pageSize && l.amapPage.size() == l.pageSize && l.btPage.trailer.size == l.pageTrailer.size()
        && l.amapPage.trailer.size == l.pageTrailer.size() && l.btEntry.btkey.offset == 0
        && l.btEntry.btkey.size == l.bref.bid.size && l.btEntry.BREF.size == l.bref.size() && l.bbtEntry.BREF.offset == 0
        && l.bbtEntry.BREF.size == l.bref.size() && l.nbtEntry.nid.offset == 0 && l.nbtEntry.nid.size == l.bref.bid.size;
}
static_assert(consistent(kAnsi) && consistent(kUnicode) && consistent(kUnicode4k));
// The most data one block holds.
static_assert(kAnsi.maxBlockDiskSize - kAnsiBlockTrailer.size() == 8180
              && kUnicode.maxBlockDiskSize - kUnicodeBlockTrailer.size() == 8176
              && kUnicode4k.maxBlockDiskSize - kUnicode4kBlockTrailer.size() == 65512);

} // namespace parcelon::pst::layout
