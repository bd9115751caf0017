#include "mailhost/pst/blocks/LeafScan.h"

#include "mailhost/pst/bytes/Crc.h"

#include <algorithm>

namespace parcelon::pst {

namespace {

// Deeper trees than this do not occur: a 64 GB file needs 5 levels.
constexpr unsigned kMaxLevel = 8;
constexpr std::size_t kChunkBytes = 1024 * 1024;
// Where the index would outgrow its bound, each question reads the file again,
// a bounded number of times.
constexpr int kMaxRescans = 64;

// Allocation maps of 512-byte-page files: one every section, one bit per 64 bytes.
constexpr std::uint64_t kFirstAMap = 0x4400;
constexpr std::uint64_t kSectionBytes = 253952;

} // namespace

Result<BTreePage> checkBTreePage(const Format& f, Bytes bytes, std::uint8_t type, std::uint64_t ib, std::uint64_t expectedBid)
{
    const SpanReader p(bytes);
    const auto [ptype, ptypeRepeat, sig, crc, bid] = readPageTrailer(f, bytes);
    if (ptype != type || ptypeRepeat != ptype)
        return corrupt(QStringLiteral("page type %1 instead of %2").arg(hex(ptype), hex(type)));
    BTreePage page;
    page.bid = bid;
    if (sig != blockSignature(ib, page.bid)) {
        if (expectedBid != 0 && page.bid != expectedBid)
            return corrupt(QStringLiteral("it holds page %1").arg(hex(page.bid)));
        return corrupt(QStringLiteral("signature %1 instead of %2").arg(hex(sig), hex(blockSignature(ib, page.bid))));
    }
    const std::uint32_t computed = pstCrc(p.slice(0, f.pageTrailerOffset()));
    if (crc != computed)
        return corrupt(QStringLiteral("checksum %1 instead of %2").arg(hex(crc), hex(computed)));

    const bool nodes = type == layout::ptypeNBT;
    const layout::Layouts& l = f.layouts();
    page.count = static_cast<unsigned>(p.field(l.btPage.cEnt));
    page.entrySize = static_cast<unsigned>(p.field(l.btPage.cbEnt));
    page.level = static_cast<unsigned>(p.field(l.btPage.cLevel));
    if (page.level > kMaxLevel)
        return corrupt(QStringLiteral("level %1").arg(page.level));
    const std::size_t wanted = page.level > 0 ? l.btEntry.size() : nodes ? l.nbtEntry.size() : l.bbtEntry.size();
    if (page.entrySize != wanted)
        return corrupt(QStringLiteral("entries of %1 bytes instead of %2").arg(page.entrySize).arg(wanted));
    if (std::size_t(page.count) * page.entrySize > l.btPage.rgentries.size)
        return corrupt(QStringLiteral("%1 entries do not fit").arg(page.count));
    for (unsigned i = 1; i < page.count; ++i)
        if (btreeKey(f, bytes, page, nodes, i - 1) >= btreeKey(f, bytes, page, nodes, i))
            return corrupt(QStringLiteral("entries out of order at %1").arg(i));
    return page;
}

std::uint64_t btreeKey(const Format& f, Bytes page, const BTreePage& shape, bool nodes, unsigned index)
{
    // Every entry starts with its key (a BTENTRY's btkey, an NBTENTRY's nid,
    // a BBTENTRY's bid). Node ids are 32 bits wide even where the field has 8 bytes.
    const std::uint64_t raw = SpanReader(page).field(f.layouts().btEntry.btkey, std::size_t(index) * shape.entrySize);
    return nodes ? (raw & 0xFFFFFFFF) : raw;
}

LeafScan::LeafScan(const Header& header, std::size_t maxIndexBytes)
    : m_header(header), m_maxLeaves(maxIndexBytes / (sizeof(Leaf) + sizeof(std::uint64_t)))
{
}

Result<void> LeafScan::scan(const ByteSource& source, const std::function<void(bool nodes, const Leaf&)>& found) const
{
    const Format& f = m_header.format;
    const std::size_t pageSize = f.pageSize();
    // The 4 KiB-page layout's maps are not used: every page counts there.
    const bool useMaps = m_header.amapValid && !f.fourK();
    std::vector<std::uint8_t> chunk;
    std::vector<std::uint8_t> amap; // the current section's map; empty: all allocated
    std::uint64_t amapStart = 0;
    const std::uint64_t end = source.size() / pageSize * pageSize;
    for (std::uint64_t at = 0; at < end; at += chunk.size()) {
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, end - at)));
        if (auto r = source.read(at, chunk); !r)
            return r.error().withContext(QStringLiteral("the search for B-tree pages"));
        for (std::size_t off = 0; off < chunk.size(); off += pageSize) {
            const std::uint64_t ib = at + off;
            const Bytes bytes = Bytes(chunk).subspan(off, pageSize);
            const PageTrailer trailer = readPageTrailer(f, bytes);
            const std::uint8_t type = trailer.ptype;
            if (useMaps && ib >= kFirstAMap && (ib - kFirstAMap) % kSectionBytes == 0) {
                amap.clear();
                amapStart = ib;
                const bool valid = type == layout::ptypeAMap && trailer.ptypeRepeat == layout::ptypeAMap && trailer.bid == ib
                    && trailer.dwCRC == pstCrc(bytes.first(f.pageTrailerOffset()));
                if (valid) {
                    const Field bits = f.layouts().amapPage.rgbAMapBits;
                    const Bytes b = bytes.subspan(bits.offset, bits.size);
                    amap.assign(b.begin(), b.end());
                }
                continue;
            }
            if (type != layout::ptypeBBT && type != layout::ptypeNBT)
                continue;
            if (type == layout::ptypeNBT && !amap.empty()) {
                // Free space: a page of an earlier state of the node tree,
                // which may name nodes since deleted or changed. (An earlier
                // page of the block tree is kept: a block id is never used
                // again, and each block read checks its own id and CRC.)
                const std::uint64_t slot = (ib - amapStart) / 64;
                if (slot / 8 < amap.size() && (amap[slot / 8] & (0x80 >> (slot % 8))) == 0)
                    continue;
            }
            auto page = checkBTreePage(f, bytes, type, ib, 0);
            if (!page || page->level != 0 || page->count == 0)
                continue;
            const bool nodes = type == layout::ptypeNBT;
            found(nodes,
                  Leaf{ib, page->bid, btreeKey(f, bytes, *page, nodes, 0), btreeKey(f, bytes, *page, nodes, page->count - 1)});
        }
    }
    return {};
}

Result<void> LeafScan::forLeaves(const ByteSource& source, bool nodes, std::uint64_t lo, std::uint64_t hi,
                                 const std::function<void(const Leaf&)>& visit) const
{
    const auto meets = [&](const Leaf& leaf) { return leaf.first <= hi && leaf.last >= lo; };
    std::vector<Leaf> chosen;
    {
        std::lock_guard lock(m_mutex);
        if (!m_done) {
            std::size_t count = 0;
            auto r = scan(source, [&](bool n, const Leaf& leaf) {
                if (++count > m_maxLeaves)
                    m_overflow = true;
                else
                    m_leaves[n].push_back(leaf);
            });
            if (!r) {
                m_leaves = {};
                m_overflow = false;
                return r;
            }
            m_done = true;
            for (int t = 0; t < 2; ++t) {
                if (m_overflow) {
                    m_leaves[t] = {};
                    continue;
                }
                auto& leaves = m_leaves[t];
                std::sort(leaves.begin(), leaves.end(), [](const Leaf& a, const Leaf& b) { return a.first < b.first; });
                m_reach[t].resize(leaves.size());
                std::uint64_t reach = 0;
                for (std::size_t i = 0; i < leaves.size(); ++i)
                    m_reach[t][i] = reach = std::max(reach, leaves[i].last);
            }
        }
        if (!m_overflow) {
            const auto& leaves = m_leaves[nodes];
            const auto& reach = m_reach[nodes];
            // Leaves that start at or below `hi`; going down from the last,
            // none before a place whose reach is below `lo` can meet the range.
            std::size_t i = static_cast<std::size_t>(
                std::upper_bound(leaves.begin(), leaves.end(), hi, [](std::uint64_t k, const Leaf& l) { return k < l.first; })
                - leaves.begin());
            while (i > 0 && reach[i - 1] >= lo) {
                --i;
                if (meets(leaves[i]))
                    chosen.push_back(leaves[i]);
            }
            std::reverse(chosen.begin(), chosen.end());
        }
    }
    if (!m_overflow) {
        for (const Leaf& leaf : chosen)
            visit(leaf);
        return {};
    }
    {
        std::lock_guard lock(m_mutex);
        if (++m_rescans > kMaxRescans)
            return corrupt(Where{source.name(), {}}, QStringLiteral("too many damaged B-tree pages to search the file for each"));
    }
    return scan(source, [&](bool n, const Leaf& leaf) {
        if (n == nodes && meets(leaf))
            visit(leaf);
    });
}

} // namespace parcelon::pst
