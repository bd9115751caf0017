#pragma once

#include "mailhost/pst/blocks/Format.h"
#include "mailhost/pst/blocks/Header.h"
#include "mailhost/pst/blocks/LeafScan.h"
#include "mailhost/pst/bytes/ByteSource.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace parcelon::pst {

// A leaf entry of the node B-tree.
struct NodeEntry {
    Nid nid = 0;
    std::uint64_t bidData = 0; // 0: a node without data
    std::uint64_t bidSub = 0;  // 0: no subnodes
    Nid parent = 0;
};

// A leaf entry of the block B-tree.
struct BlockEntry {
    std::uint64_t bid = 0;
    std::uint64_t ib = 0;
    std::uint32_t cb = 0;         // bytes stored in the file
    std::uint32_t cbInflated = 0; // bytes after inflating (4 KiB-page files); = cb otherwise
};

// The node and block B-trees of one file. Every page is checked before use
// (type, signature, checksum, its own id, entry sizes and counts, levels
// that decrease by one on the way down) and kept in a small cache, so
// repeated look-ups read nothing again. A page that checks out as itself is
// used even where its parent (or the header) names it by another id. Where
// a page is damaged, what it held is looked for among the leaf pages of the
// same tree anywhere in the file (the highest page id wins); only what is
// not found there is lost.
class BTrees {
public:
    // `scan` is shared by the readers of one file (made when null).
    BTrees(const ByteSource& source, const Header& header, std::shared_ptr<LeafScan> scan = nullptr);

    const std::shared_ptr<LeafScan>& scan() const { return m_scan; }

    Result<std::optional<NodeEntry>> findNode(Nid nid) const;
    Result<std::optional<BlockEntry>> findBlock(std::uint64_t bid) const;

    // Visits every node entry in id order; stops early when `visit` returns
    // false. What a damaged page held and the scan cannot find is left out.
    Result<void> forEachNode(const std::function<bool(const NodeEntry&)>& visit) const;

private:
    enum class Tree : std::uint8_t { Nodes = layout::ptypeNBT, Blocks = layout::ptypeBBT };

    struct Page {
        std::vector<std::uint8_t> bytes;
        std::uint64_t bid = 0; // the page's own id
        unsigned count = 0;
        unsigned entrySize = 0;
        unsigned level = 0;
        bool nodes = false; // a page of the node B-tree
    };

    Result<const Page*> page(Tree tree, const BlockRef& ref, int expectedLevel) const;
    Result<Page> readPage(Tree tree, const BlockRef& ref, int expectedLevel) const;

    template <class Entry>
    Result<std::optional<Entry>> find(Tree tree, std::uint64_t key) const;
    template <class Entry>
    Result<std::optional<Entry>> recover(Tree tree, std::uint64_t key, const Error& damage) const;
    Result<void> walkNodes(const BlockRef& ref, int level, int depth, std::uint64_t lo, std::uint64_t hi,
                           const std::function<bool(const NodeEntry&)>& visit, bool& stop) const;
    Result<void> recoverNodes(std::uint64_t lo, std::uint64_t hi, const Error& damage,
                              const std::function<bool(const NodeEntry&)>& visit, bool& stop) const;

    NodeEntry nodeEntry(const Page& page, unsigned index) const;
    BlockEntry blockEntry(const Page& page, unsigned index) const;
    std::uint64_t key(const Page& page, unsigned index) const;
    BlockRef childRef(const Page& page, unsigned index) const;
    // A page named by another id than its own is only taken where its keys
    // lie in the range its parent gives.
    bool fits(const Page& page, const BlockRef& ref, std::uint64_t lo, std::uint64_t hi) const;
    Error pageElsewhere(Tree tree, const BlockRef& ref, const Page& found) const;

    const ByteSource& m_source;
    Header m_header;
    std::shared_ptr<LeafScan> m_scan;

    // Least recently used pages, keyed by file offset.
    mutable std::list<std::pair<std::uint64_t, Page>> m_pages;
    mutable std::unordered_map<std::uint64_t, std::list<std::pair<std::uint64_t, Page>>::iterator> m_index;
    std::size_t m_capacity;
};

} // namespace parcelon::pst
