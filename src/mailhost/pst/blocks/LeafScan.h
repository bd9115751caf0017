#pragma once

#include "mailhost/pst/blocks/Header.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace parcelon::pst {

// The fields of a B-tree page whose trailer, signature and checksum check out.
struct BTreePage {
    std::uint64_t bid = 0;
    unsigned count = 0;
    unsigned entrySize = 0;
    unsigned level = 0;
};

// Checks a B-tree page read from offset `ib`: its type (0x80 block tree,
// 0x81 node tree), the signature of its own id, its checksum, entry size,
// count and key order. `expectedBid` (0: any) only words the failure when
// the page holds another id. Corrupt with a short description otherwise.
Result<BTreePage> checkBTreePage(const Format& format, Bytes page, std::uint8_t type, std::uint64_t ib,
                                 std::uint64_t expectedBid);

// The key of entry `index` of a checked B-tree page.
std::uint64_t btreeKey(const Format& format, Bytes page, const BTreePage& shape, bool nodes, unsigned index);

// The leaf pages of both B-trees that check out wherever they lie in the
// file, found by reading every page-aligned position once, when first
// asked for. What a damaged B-tree page held is looked for among them.
// Node-tree pages in space the allocation maps mark free are left out where
// the header says the maps are valid. The index holds at most `maxIndexBytes`;
// for a file with more leaf pages than that, each question reads the file
// again. Safe to share between the readers of one file.
class LeafScan {
public:
    struct Leaf {
        std::uint64_t ib = 0;
        std::uint64_t bid = 0;
        std::uint64_t first = 0; // lowest key
        std::uint64_t last = 0;  // highest key
    };

    explicit LeafScan(const Header& header, std::size_t maxIndexBytes = 8 * 1024 * 1024);

    // Visits the leaf pages of one tree whose keys meet [lo, hi].
    Result<void> forLeaves(const ByteSource& source, bool nodes, std::uint64_t lo, std::uint64_t hi,
                           const std::function<void(const Leaf&)>& visit) const;

private:
    Result<void> scan(const ByteSource& source, const std::function<void(bool nodes, const Leaf&)>& found) const;

    Header m_header;
    std::size_t m_maxLeaves;
    mutable std::mutex m_mutex;
    mutable bool m_done = false;
    mutable bool m_overflow = false;
    mutable int m_rescans = 0;
    // Per tree (0 blocks, 1 nodes): leaves by lowest key, and the highest
    // key of any leaf up to each place.
    mutable std::array<std::vector<Leaf>, 2> m_leaves;
    mutable std::array<std::vector<std::uint64_t>, 2> m_reach;
};

} // namespace parcelon::pst
