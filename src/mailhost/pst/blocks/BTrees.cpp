#include "mailhost/pst/blocks/BTrees.h"

#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <algorithm>
#include <map>

namespace parcelon::pst {

namespace {

// Deeper trees than this do not occur: a 64 GB file needs 5 levels.
constexpr int kMaxLevel = 8;
constexpr std::size_t kCacheBytes = 1024 * 1024;
// Leaf pages whose entries are held at once while a damaged part of the
// node B-tree is walked from the scan.
constexpr std::size_t kWindowLeaves = 2048;
constexpr std::uint64_t kNoKey = ~std::uint64_t(0);
// More leaf pages than this claiming one key is no file's history but a
// hostile structure: the highest ids are looked at, no more.
constexpr std::size_t kMaxClaims = 1024;

QString treeName(bool nodes)
{
    return nodes ? QStringLiteral("node B-tree") : QStringLiteral("block B-tree");
}

} // namespace

BTrees::BTrees(const ByteSource& source, const Header& header, std::shared_ptr<LeafScan> scan)
    : m_source(source)
    , m_header(header)
    , m_scan(scan ? std::move(scan) : std::make_shared<LeafScan>(header))
    , m_capacity(kCacheBytes / header.format.pageSize())
{
}

Result<BTrees::Page> BTrees::readPage(Tree tree, const BlockRef& ref, int expectedLevel) const
{
    const Format& f = m_header.format;
    const bool nodes = tree == Tree::Nodes;
    auto fail = [&](const QString& reason) {
        return corrupt(Where{m_source.name(), {}},
                       QStringLiteral("%1 page %2 at offset %3 is damaged (%4)")
                           .arg(treeName(nodes), hex(ref.bid), hex(ref.ib), reason));
    };

    Page page;
    page.nodes = nodes;
    page.bytes.resize(f.pageSize());
    if (auto r = m_source.read(ref.ib, page.bytes); !r)
        return r.error().withContext(treeName(nodes));
    auto shape = checkBTreePage(f, page.bytes, static_cast<std::uint8_t>(tree), ref.ib, ref.bid);
    if (!shape)
        return fail(shape.error().reason());
    page.bid = shape->bid;
    page.count = shape->count;
    page.entrySize = shape->entrySize;
    page.level = shape->level;
    if (expectedLevel >= 0 && static_cast<int>(page.level) != expectedLevel)
        return fail(QStringLiteral("level %1 where level %2 belongs").arg(page.level).arg(expectedLevel));
    return page;
}

Result<const BTrees::Page*> BTrees::page(Tree tree, const BlockRef& ref, int expectedLevel) const
{
    if (auto it = m_index.find(ref.ib); it != m_index.end()) {
        m_pages.splice(m_pages.begin(), m_pages, it->second);
        const Page& cached = it->second->second;
        if (cached.nodes != (tree == Tree::Nodes) || (expectedLevel >= 0 && static_cast<int>(cached.level) != expectedLevel))
            return corrupt(Where{m_source.name(), {}},
                           QStringLiteral("page at offset %1 is used at two levels of the %2")
                               .arg(hex(ref.ib), treeName(tree == Tree::Nodes)));
        return &cached;
    }
    auto read = readPage(tree, ref, expectedLevel);
    if (!read)
        return read.error();
    m_pages.emplace_front(ref.ib, std::move(read).value());
    m_index[ref.ib] = m_pages.begin();
    if (m_pages.size() > m_capacity) {
        m_index.erase(m_pages.back().first);
        m_pages.pop_back();
    }
    return &m_pages.front().second;
}

std::uint64_t BTrees::key(const Page& page, unsigned index) const
{
    return btreeKey(m_header.format, page.bytes, BTreePage{0, page.count, page.entrySize, page.level}, page.nodes, index);
}

Error BTrees::pageElsewhere(Tree tree, const BlockRef& ref, const Page& found) const
{
    return corrupt(Where{m_source.name(), {}},
                   QStringLiteral("%1 page %2 at offset %3 is damaged (it holds page %4 of other keys)")
                       .arg(treeName(tree == Tree::Nodes), hex(ref.bid), hex(ref.ib), hex(found.bid)));
}

bool BTrees::fits(const Page& page, const BlockRef& ref, std::uint64_t lo, std::uint64_t hi) const
{
    return page.bid == ref.bid || page.count == 0 || (key(page, 0) >= lo && key(page, page.count - 1) <= hi);
}

BlockRef BTrees::childRef(const Page& page, unsigned index) const
{
    const Format& f = m_header.format;
    return readBref(f, SpanReader(page.bytes), std::size_t(index) * page.entrySize + f.layouts().btEntry.BREF.offset);
}

NodeEntry BTrees::nodeEntry(const Page& page, unsigned index) const
{
    const SpanReader p(page.bytes);
    const layout::NBTEntry& l = m_header.format.layouts().nbtEntry;
    const std::size_t off = std::size_t(index) * page.entrySize;
    // Node ids are 32 bits wide even where the field has 8 bytes.
    return {static_cast<Nid>(p.field(l.nid, off)), p.field(l.bidData, off), p.field(l.bidSub, off),
            static_cast<Nid>(p.field(l.nidParent, off))};
}

BlockEntry BTrees::blockEntry(const Page& page, unsigned index) const
{
    const SpanReader p(page.bytes);
    const Format& f = m_header.format;
    const layout::BBTEntry& l = f.layouts().bbtEntry;
    const std::size_t off = std::size_t(index) * page.entrySize;
    const BlockRef ref = readBref(f, p, off + l.BREF.offset);
    BlockEntry e;
    e.bid = ref.bid;
    e.ib = ref.ib;
    e.cb = static_cast<std::uint32_t>(p.field(l.cb, off));
    // Only 4 KiB-page files inflate their blocks.
    e.cbInflated = l.cbInflated.size != 0 ? static_cast<std::uint32_t>(p.field(l.cbInflated, off)) : e.cb;
    return e;
}

template <class Entry>
Result<std::optional<Entry>> BTrees::find(Tree tree, std::uint64_t searched) const
{
    BlockRef ref = tree == Tree::Nodes ? m_header.nodeBTree : m_header.blockBTree;
    int level = -1;
    std::uint64_t lo = 0, hi = kNoKey; // the keys the page at `ref` covers
    for (int depth = 0; depth <= kMaxLevel; ++depth) {
        auto got = page(tree, ref, level);
        if (got && !fits(**got, ref, lo, hi))
            got = pageElsewhere(tree, ref, **got);
        if (!got)
            return recover<Entry>(tree, searched, got.error());
        const Page& p = **got;
        // The last entry whose key is not above the searched one.
        unsigned lo = 0, hi = p.count;
        while (lo < hi) {
            const unsigned mid = (lo + hi) / 2;
            if (key(p, mid) <= searched)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo == 0)
            return std::optional<Entry>();
        const unsigned i = lo - 1;
        if (p.level == 0) {
            if (key(p, i) != searched)
                return std::optional<Entry>();
            if constexpr (std::is_same_v<Entry, NodeEntry>)
                return std::optional<Entry>(nodeEntry(p, i));
            else
                return std::optional<Entry>(blockEntry(p, i));
        }
        if (i + 1 < p.count)
            hi = key(p, i + 1) - 1;
        lo = key(p, i);
        ref = childRef(p, i);
        level = static_cast<int>(p.level) - 1;
    }
    return corrupt(Where{m_source.name(), {}},
                   QStringLiteral("the %1 is deeper than %2 levels").arg(treeName(tree == Tree::Nodes)).arg(kMaxLevel));
}

template <class Entry>
Result<std::optional<Entry>> BTrees::recover(Tree tree, std::uint64_t searched, const Error& damage) const
{
    if (damage.kind() != ErrorKind::Corrupt)
        return damage;
    // The leaves that claim the key, highest id first; the first that holds it wins.
    std::vector<LeafScan::Leaf> leaves;
    auto scanned = m_scan->forLeaves(m_source, tree == Tree::Nodes, searched, searched, [&](const LeafScan::Leaf& leaf) {
        if (leaves.size() < kMaxClaims)
            leaves.push_back(leaf);
    });
    std::sort(leaves.begin(), leaves.end(), [](const auto& a, const auto& b) { return a.bid > b.bid; });
    std::optional<Entry> best;
    for (const LeafScan::Leaf& leaf : leaves) {
        auto got = page(tree, {leaf.bid, leaf.ib}, 0);
        if (!got)
            continue;
        const Page& p = **got;
        for (unsigned lo = 0, hi = p.count; lo < hi && !best;) {
            const unsigned mid = (lo + hi) / 2;
            const std::uint64_t k = key(p, mid);
            if (k == searched) {
                if constexpr (std::is_same_v<Entry, NodeEntry>)
                    best = nodeEntry(p, mid);
                else
                    best = blockEntry(p, mid);
            } else if (k < searched) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        if (best)
            break;
    }
    if (!scanned || !best)
        return damage;
    return best;
}

Result<std::optional<NodeEntry>> BTrees::findNode(Nid nid) const
{
    return find<NodeEntry>(Tree::Nodes, nid);
}

Result<std::optional<BlockEntry>> BTrees::findBlock(std::uint64_t bid) const
{
    return find<BlockEntry>(Tree::Blocks, cleanBid(bid));
}

Result<void> BTrees::walkNodes(const BlockRef& ref, int level, int depth, std::uint64_t lo, std::uint64_t hi,
                               const std::function<bool(const NodeEntry&)>& visit, bool& stop) const
{
    if (depth > kMaxLevel)
        return corrupt(Where{m_source.name(), {}}, QStringLiteral("the node B-tree is deeper than %1 levels").arg(kMaxLevel));
    auto got = page(Tree::Nodes, ref, level);
    if (got && !fits(**got, ref, lo, hi))
        got = pageElsewhere(Tree::Nodes, ref, **got);
    if (!got)
        return recoverNodes(lo, hi, got.error(), visit, stop);
    // Copy what is needed: the cache may drop this page during the recursion.
    const Page p = **got;
    for (unsigned i = 0; i < p.count && !stop; ++i) {
        const std::uint64_t k = key(p, i);
        if (k < lo || k > hi)
            continue; // not this branch's: a page that holds another id
        if (p.level == 0) {
            stop = !visit(nodeEntry(p, i));
            continue;
        }
        const std::uint64_t last = i + 1 < p.count ? std::min(hi, key(p, i + 1) - 1) : hi;
        if (auto r = walkNodes(childRef(p, i), static_cast<int>(p.level) - 1, depth + 1, k, last, visit, stop); !r)
            return r;
    }
    return {};
}

Result<void> BTrees::recoverNodes(std::uint64_t lo, std::uint64_t hi, const Error& damage,
                                  const std::function<bool(const NodeEntry&)>& visit, bool& stop) const
{
    if (damage.kind() != ErrorKind::Corrupt)
        return damage;
    std::vector<LeafScan::Leaf> leaves;
    bool tooMany = false;
    auto scanned = m_scan->forLeaves(m_source, true, lo, hi, [&](const LeafScan::Leaf& leaf) {
        if (leaves.size() < kWindowLeaves * kWindowLeaves)
            leaves.push_back(leaf);
        else
            tooMany = true;
    });
    if (!scanned || tooMany)
        return damage;
    std::sort(leaves.begin(), leaves.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // Key windows of a bounded number of leaves each; within a window the
    // entry of the page with the highest id wins.
    std::uint64_t from = lo;
    for (std::size_t w = 0; w < leaves.size() && !stop; w += kWindowLeaves) {
        const std::size_t nextWindow = w + kWindowLeaves;
        const bool last = nextWindow >= leaves.size() || leaves[nextWindow].first > hi;
        if (!last && leaves[nextWindow].first <= from)
            continue; // the next window covers these keys
        const std::uint64_t to = last ? hi : leaves[nextWindow].first - 1;
        std::map<std::uint64_t, std::pair<std::uint64_t, NodeEntry>> entries;
        for (const auto& leaf : leaves) {
            if (leaf.first > to || leaf.last < from)
                continue;
            auto got = page(Tree::Nodes, {leaf.bid, leaf.ib}, 0);
            if (!got)
                continue;
            const Page& p = **got;
            for (unsigned i = 0; i < p.count; ++i) {
                const std::uint64_t k = key(p, i);
                if (k < from || k > to)
                    continue;
                auto [it, inserted] = entries.try_emplace(k, leaf.bid, nodeEntry(p, i));
                if (!inserted && it->second.first < leaf.bid)
                    it->second = {leaf.bid, nodeEntry(p, i)};
            }
        }
        for (const auto& [k, entry] : entries) {
            if (!visit(entry.second)) {
                stop = true;
                break;
            }
        }
        if (last)
            break;
        from = to + 1;
    }
    return {};
}

Result<void> BTrees::forEachNode(const std::function<bool(const NodeEntry&)>& visit) const
{
    bool stop = false;
    return walkNodes(m_header.nodeBTree, -1, 0, 0, kNoKey, visit, stop);
}

} // namespace parcelon::pst
