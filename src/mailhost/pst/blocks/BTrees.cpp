#include "mailhost/pst/blocks/BTrees.h"

#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/bytes/SpanReader.h"

namespace parcelon::pst {

namespace {

// Deeper trees than this do not occur: a 64 GB file needs 5 levels.
constexpr int kMaxLevel = 8;
constexpr std::size_t kCacheBytes = 1024 * 1024;

QString treeName(bool nodes)
{
    return nodes ? QStringLiteral("node B-tree") : QStringLiteral("block B-tree");
}

} // namespace

BTrees::BTrees(const ByteSource& source, const Header& header)
    : m_source(source), m_header(header), m_capacity(kCacheBytes / header.format.pageSize())
{
}

Result<BTrees::Page> BTrees::readPage(Tree tree, const BlockRef& ref, int expectedLevel) const
{
    const Format& f = m_header.format;
    const bool nodes = tree == Tree::Nodes;
    auto fail = [&](const QString& what) {
        return corrupt(QStringLiteral("%1: %2 page %3 at offset %4 is damaged (%5)")
                           .arg(m_source.name(), treeName(nodes), hex(ref.bid), hex(ref.ib), what));
    };

    Page page;
    page.nodes = nodes;
    page.bytes.resize(f.pageSize());
    if (auto r = m_source.read(ref.ib, page.bytes); !r)
        return r.error().context(QStringLiteral("reading the %1").arg(treeName(nodes)));
    const SpanReader p(page.bytes);

    const std::size_t t = f.pageTrailerOffset();
    const std::uint8_t ptype = p.u8(t);
    if (ptype != static_cast<std::uint8_t>(tree) || p.u8(t + 1) != ptype)
        return fail(QStringLiteral("page type %1 instead of %2").arg(hex(ptype), hex(static_cast<std::uint8_t>(tree))));
    const std::uint16_t sig = p.u16(t + 2);
    const std::uint32_t crc = f.ansi() ? p.u32(t + 8) : p.u32(t + 4);
    const std::uint64_t bid = f.ansi() ? p.u32(t + 4) : p.u64(t + 8);
    if (bid != ref.bid)
        return fail(QStringLiteral("it holds page %1").arg(hex(bid)));
    if (sig != blockSignature(ref.ib, ref.bid))
        return fail(QStringLiteral("signature %1 instead of %2").arg(hex(sig), hex(blockSignature(ref.ib, ref.bid))));
    const std::uint32_t computed = pstCrc(p.slice(0, t));
    if (crc != computed)
        return fail(QStringLiteral("checksum %1 instead of %2").arg(hex(crc), hex(computed)));

    const std::size_t area = f.btEntryAreaSize();
    const std::size_t w = f.btCountWidth();
    page.count = static_cast<unsigned>(p.uint(area, w));
    page.entrySize = p.u8(area + 2 * w);
    page.level = p.u8(area + 2 * w + 1);
    if (page.level > kMaxLevel || (expectedLevel >= 0 && static_cast<int>(page.level) != expectedLevel))
        return fail(QStringLiteral("level %1 where level %2 belongs").arg(page.level).arg(expectedLevel));
    const std::size_t wanted = page.level > 0 ? f.btEntrySize() : nodes ? f.nbtEntrySize() : f.bbtEntrySize();
    if (page.entrySize != wanted)
        return fail(QStringLiteral("entries of %1 bytes instead of %2").arg(page.entrySize).arg(wanted));
    if (std::size_t(page.count) * page.entrySize > area)
        return fail(QStringLiteral("%1 entries do not fit").arg(page.count));
    for (unsigned i = 1; i < page.count; ++i)
        if (key(page, i - 1) >= key(page, i))
            return fail(QStringLiteral("entries out of order at %1").arg(i));
    return page;
}

Result<const BTrees::Page*> BTrees::page(Tree tree, const BlockRef& ref, int expectedLevel) const
{
    if (auto it = m_index.find(ref.ib); it != m_index.end()) {
        m_pages.splice(m_pages.begin(), m_pages, it->second);
        const Page& cached = it->second->second;
        if (cached.nodes != (tree == Tree::Nodes) || (expectedLevel >= 0 && static_cast<int>(cached.level) != expectedLevel))
            return corrupt(QStringLiteral("%1: page at offset %2 is used at two levels of the %3")
                               .arg(m_source.name(), hex(ref.ib), treeName(tree == Tree::Nodes)));
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
    const SpanReader p(page.bytes);
    const std::size_t off = std::size_t(index) * page.entrySize;
    // Node ids are 32 bits wide even where the field has 8 bytes.
    const std::uint64_t raw = p.uint(off, m_header.format.idSize());
    return page.nodes ? (raw & 0xFFFFFFFF) : raw;
}

BlockRef BTrees::childRef(const Page& page, unsigned index) const
{
    const SpanReader p(page.bytes);
    const std::size_t id = m_header.format.idSize();
    const std::size_t off = std::size_t(index) * page.entrySize + id;
    return {p.uint(off, id), p.uint(off + id, id)};
}

NodeEntry BTrees::nodeEntry(const Page& page, unsigned index) const
{
    const SpanReader p(page.bytes);
    const std::size_t id = m_header.format.idSize();
    const std::size_t off = std::size_t(index) * page.entrySize;
    return {static_cast<Nid>(p.u32(off)), p.uint(off + id, id), p.uint(off + 2 * id, id), p.u32(off + 3 * id)};
}

BlockEntry BTrees::blockEntry(const Page& page, unsigned index) const
{
    const SpanReader p(page.bytes);
    const std::size_t id = m_header.format.idSize();
    const std::size_t off = std::size_t(index) * page.entrySize;
    BlockEntry e;
    e.bid = p.uint(off, id);
    e.ib = p.uint(off + id, id);
    e.cb = p.u16(off + 2 * id);
    e.cbInflated = m_header.format.fourK() ? p.u16(off + 2 * id + 2) : e.cb;
    return e;
}

template <class Entry>
Result<std::optional<Entry>> BTrees::find(Tree tree, std::uint64_t searched) const
{
    BlockRef ref = tree == Tree::Nodes ? m_header.nodeBTree : m_header.blockBTree;
    int level = -1;
    for (int depth = 0; depth <= kMaxLevel; ++depth) {
        auto got = page(tree, ref, level);
        if (!got)
            return got.error();
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
        ref = childRef(p, i);
        level = static_cast<int>(p.level) - 1;
    }
    return corrupt(QStringLiteral("%1: the %2 is deeper than %3 levels")
                       .arg(m_source.name(), treeName(tree == Tree::Nodes))
                       .arg(kMaxLevel));
}

Result<std::optional<NodeEntry>> BTrees::findNode(Nid nid) const
{
    return find<NodeEntry>(Tree::Nodes, nid);
}

Result<std::optional<BlockEntry>> BTrees::findBlock(std::uint64_t bid) const
{
    return find<BlockEntry>(Tree::Blocks, cleanBid(bid));
}

Result<void> BTrees::walkNodes(const BlockRef& ref, int level, int depth,
                               const std::function<bool(const NodeEntry&)>& visit, bool& stop) const
{
    if (depth > kMaxLevel)
        return corrupt(QStringLiteral("%1: the node B-tree is deeper than %2 levels").arg(m_source.name()).arg(kMaxLevel));
    auto got = page(Tree::Nodes, ref, level);
    if (!got)
        return got.error();
    // Copy what is needed: the cache may drop this page during the recursion.
    const Page p = **got;
    for (unsigned i = 0; i < p.count && !stop; ++i) {
        if (p.level == 0) {
            stop = !visit(nodeEntry(p, i));
        } else if (auto r = walkNodes(childRef(p, i), static_cast<int>(p.level) - 1, depth + 1, visit, stop); !r) {
            return r;
        }
    }
    return {};
}

Result<void> BTrees::forEachNode(const std::function<bool(const NodeEntry&)>& visit) const
{
    bool stop = false;
    return walkNodes(m_header.nodeBTree, -1, 0, visit, stop);
}

} // namespace parcelon::pst
