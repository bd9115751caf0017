#include "PstFileCheck.h"

#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/bytes/Encoding.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <QFile>

#include <zlib.h>

#include <map>
#include <set>
#include <vector>

namespace parcelon::test {

namespace {

using pst::SpanReader;

QString hex(std::uint64_t v)
{
    return QStringLiteral("0x%1").arg(v, 0, 16);
}

std::uint16_t signature(std::uint64_t ib, std::uint64_t bid)
{
    const auto x = std::uint32_t(ib ^ bid);
    return std::uint16_t((x >> 16) ^ (x & 0xFFFF));
}

class Checker {
public:
    Checker(QByteArray bytes, PstFileFacts& facts)
        : m_bytes(std::move(bytes))
        , m_file({reinterpret_cast<const std::uint8_t*>(m_bytes.constData()), std::size_t(m_bytes.size())})
        , m_facts(facts)
    {
    }

    void run()
    {
        if (!header())
            return;
        m_slots.assign(m_file.size() / m_slot + 1, false);
        walk(id(m_file, root(36)), id(m_file, root(36) + m_id), 0x81, -1, m_facts.nodeTreeLevels);
        walk(id(m_file, root(52)), id(m_file, root(52) + m_id), 0x80, -1, m_facts.blockTreeLevels);
        blocks();
        maps();
        for (const auto& [nid, node] : m_nodes) {
            dataTree(node.first, QStringLiteral("node %1").arg(hex(nid)));
            subnodeTree(node.second, QStringLiteral("node %1").arg(hex(nid)));
        }
    }

private:
    struct Block {
        std::uint64_t ib;
        std::uint16_t cb;
        std::uint16_t inflated;
    };

    void problem(const QString& text) { m_facts.problems << text; }

    // An id or offset: 4 bytes in ANSI files, else 8.
    std::uint64_t id(const SpanReader& r, std::size_t at) const { return r.uint(at, m_id); }
    // Where a field of the header's ROOT lies, given its offset in the Unicode ROOT.
    std::size_t root(std::size_t unicodeOffset) const
    {
        if (!m_ansi)
            return 180 + unicodeOffset;
        switch (unicodeOffset) {
        case 4:
            return 168; // ibFileEof
        case 12:
            return 172; // ibAMapLast
        case 20:
            return 176; // cbAMapFree
        case 36:
            return 184; // BREFNBT
        case 52:
            return 192; // BREFBBT
        default:
            return 200; // fAMapValid
        }
    }
    // dwCRC and bid in a page or block trailer: ANSI keeps bid first.
    std::size_t crcAt() const { return m_ansi ? 8 : 4; }
    std::size_t bidAt() const { return m_ansi ? 4 : 8; }

    bool header()
    {
        if (!m_file.has(0, 512) || m_file.u32(0) != 0x4E444221)
            return problem(QStringLiteral("no PST header")), false;
        m_facts.version = m_file.u16(10);
        m_big = m_facts.version == 36;
        m_ansi = m_facts.version == 14 || m_facts.version == 15;
        m_id = m_ansi ? 4 : 8;
        m_page = m_big ? 4096 : 512;
        m_slot = m_big ? 512 : 64;
        m_trailer = m_big ? 24 : m_ansi ? 12 : 16;
        m_firstMap = m_big ? 0x22000 : 0x4400;
        m_section = m_big ? 4072ull * 8 * 512 : 496 * 8 * 64;
        m_facts.encoding = m_file.u8(m_ansi ? 461 : 513);
        if (pst::pstCrc(m_file.slice(8, 471)) != m_file.u32(4))
            problem(QStringLiteral("header: partial CRC"));
        if (!m_ansi && pst::pstCrc(m_file.slice(8, 516)) != m_file.u32(524))
            problem(QStringLiteral("header: full CRC"));
        if (id(m_file, root(4)) != m_file.size())
            problem(QStringLiteral("header: ibFileEof %1, file %2").arg(id(m_file, root(4))).arg(m_file.size()));
        if ((m_file.size() - m_firstMap) % m_section != 0 || id(m_file, root(12)) != m_file.size() - m_section)
            problem(QStringLiteral("header: the file does not end with a whole section"));
        if (m_file.u8(root(68)) != 2 || m_file.u8(m_ansi ? 460 : 512) != 0x80)
            problem(QStringLiteral("header: fAMapValid or bSentinel"));
        return true;
    }

    // Marks [ib, ib + size) as taken; two structures must never share a slot.
    void take(std::uint64_t ib, std::uint64_t size, const QString& what)
    {
        if (ib % m_slot != 0 || ib + size > m_file.size())
            return problem(what + QStringLiteral(": misplaced at ") + hex(ib));
        if ((ib - m_firstMap) / m_section != (ib + size - 1 - m_firstMap) / m_section)
            problem(what + QStringLiteral(": crosses a section boundary"));
        for (std::uint64_t s = ib / m_slot; s < (ib + size + m_slot - 1) / m_slot; ++s) {
            if (m_slots[s])
                problem(what + QStringLiteral(": overlaps at ") + hex(s * m_slot));
            m_slots[s] = true;
        }
    }

    bool page(std::uint64_t ib, std::uint8_t ptype, std::uint64_t bid, bool signed_, const QString& what)
    {
        const SpanReader p(m_file.slice(ib, m_page));
        const std::size_t t = m_page - m_trailer;
        if (p.size() != m_page || p.u8(t) != ptype || p.u8(t + 1) != ptype)
            return problem(what + QStringLiteral(": page type")), false;
        if (p.u16(t + 2) != (signed_ ? signature(ib, bid) : 0) || p.u32(t + crcAt()) != pst::pstCrc(p.slice(0, t))
            || id(p, t + bidAt()) != bid)
            problem(what + QStringLiteral(": page trailer"));
        return true;
    }

    std::uint64_t walk(std::uint64_t bid, std::uint64_t ib, std::uint8_t ptype, int level, int& levels)
    {
        const QString what = QStringLiteral("BTree page %1").arg(hex(ib));
        take(ib, m_page, what);
        if (!page(ib, ptype, bid, true, what))
            return 0;
        const SpanReader p(m_file.slice(ib, m_page));
        const std::size_t meta = m_big ? 4056 : m_ansi ? 496 : 488;
        const unsigned count = m_big ? p.u16(meta) : p.u8(meta);
        const unsigned max = m_big ? p.u16(meta + 2) : p.u8(meta + 1);
        const unsigned entrySize = p.u8(meta + (m_big ? 4 : 2));
        const int cLevel = p.u8(meta + (m_big ? 5 : 3));
        if (level >= 0 && cLevel != level)
            problem(what + QStringLiteral(": level"));
        levels = std::max(levels, cLevel + 1);
        if (count > max || max != meta / entrySize)
            problem(what + QStringLiteral(": entry counts"));
        std::uint64_t first = 0;
        std::uint64_t previous = 0;
        for (unsigned i = 0; i < count; ++i) {
            const std::size_t e = i * entrySize;
            const std::uint64_t key = id(p, e);
            if (i == 0)
                first = key;
            else if (key <= previous)
                problem(what + QStringLiteral(": keys out of order"));
            previous = key;
            if (cLevel > 0) {
                if (walk(id(p, e + m_id), id(p, e + 2 * m_id), ptype, cLevel - 1, levels) != key)
                    problem(what + QStringLiteral(": key of a child page"));
            } else if (ptype == 0x81) {
                m_nodes[std::uint32_t(key)] = {id(p, e + m_id), id(p, e + 2 * m_id)};
            } else {
                const std::size_t cb = e + 2 * m_id;
                m_blocks[key] = {id(p, e + m_id), p.u16(cb), m_big ? p.u16(cb + 2) : p.u16(cb)};
            }
        }
        return first;
    }

    void blocks()
    {
        m_facts.nodes = m_nodes.size();
        m_facts.blocks = m_blocks.size();
        for (const auto& [bid, b] : m_blocks) {
            const QString what = QStringLiteral("block %1").arg(hex(bid));
            const std::uint64_t disk = (b.cb + m_trailer + m_slot - 1) / m_slot * m_slot;
            take(b.ib, disk, what);
            const SpanReader t(m_file.slice(b.ib + disk - m_trailer, m_trailer));
            if (t.u16(0) != b.cb || t.u16(2) != signature(b.ib, bid) || id(t, bidAt()) != bid
                || t.u32(crcAt()) != pst::pstCrc(m_file.slice(b.ib, b.cb)))
                problem(what + QStringLiteral(": trailer"));
            if (m_big && t.u16(18) != b.inflated)
                problem(what + QStringLiteral(": inflated size"));
            if (b.cb != b.inflated)
                ++m_facts.compressedBlocks;
        }
    }

    void maps()
    {
        const std::uint64_t sections = (m_file.size() - m_firstMap) / m_section;
        const std::uint64_t slotsPerSection = m_section / m_slot;
        const std::uint64_t pad = m_ansi ? 4 : 0; // ANSI map pages start with 4 unused bytes
        std::uint64_t free = 0;
        for (std::uint64_t k = 0; k < sections; ++k) {
            const std::uint64_t at = m_firstMap + k * m_section;
            take(at, m_page, QStringLiteral("AMap"));
            if (!m_big && k % 8 == 0)
                take(at + 512, 512, QStringLiteral("PMap"));
            if (!m_big && k >= 128 && (k - 128) % 496 == 0)
                take(at + 1024, 512, QStringLiteral("FMap"));
            if (!m_big && k >= 8192 && (k - 8192) % 31744 == 0)
                take(at + 1536, 512, QStringLiteral("FPMap"));
        }
        for (std::uint64_t k = 0; k < sections; ++k) {
            const std::uint64_t at = m_firstMap + k * m_section;
            const QString what = QStringLiteral("AMap %1").arg(hex(at));
            if (!page(at, 0x84, at, false, what))
                continue;
            for (std::uint64_t s = 0; s < slotsPerSection; ++s) {
                const bool bit = m_file.u8(at + pad + s / 8) & (0x80 >> (s % 8));
                free += bit ? 0 : 1;
                if (bit != m_slots[at / m_slot + s]) {
                    problem(what + QStringLiteral(": bit for %1").arg(hex(at + s * m_slot)));
                    break;
                }
            }
            if (!m_big && k % 8 == 0 && page(at + 512, 0x83, at + 512, false, QStringLiteral("PMap")))
                for (std::size_t i = 0; i < 496; ++i)
                    if (m_file.u8(at + 512 + pad + i) != 0xFF)
                        problem(QStringLiteral("PMap: a free page"));
            if (!m_big && k >= 128 && (k - 128) % 496 == 0)
                page(at + 1024, 0x82, at + 1024, false, QStringLiteral("FMap"));
            if (!m_big && k >= 8192 && (k - 8192) % 31744 == 0)
                page(at + 1536, 0x85, at + 1536, false, QStringLiteral("FPMap"));
        }
        if (free * m_slot != id(m_file, root(20)))
            problem(QStringLiteral("header: cbAMapFree"));
        page(m_big ? 0x21000 : 0x4200, 0x86, m_ansi ? m_file.u32(28) : m_file.u64(32), true, QStringLiteral("density list"));
    }

    // The bytes of a data block as a reader sees them.
    std::vector<std::uint8_t> data(std::uint64_t bid)
    {
        const auto it = m_blocks.find(bid & ~std::uint64_t(1));
        if (it == m_blocks.end()) {
            problem(QStringLiteral("reference to missing block %1").arg(hex(bid)));
            return {};
        }
        const auto stored = m_file.slice(it->second.ib, it->second.cb);
        std::vector<std::uint8_t> out(stored.begin(), stored.end());
        if (it->second.cb != it->second.inflated) {
            out.resize(it->second.inflated);
            uLongf size = out.size();
            if (uncompress(out.data(), &size, stored.data(), stored.size()) != Z_OK || size != out.size())
                problem(QStringLiteral("block %1: not a zlib stream").arg(hex(bid)));
        }
        if (!(bid & 2))
            pst::decodeBlock(pst::Encoding(m_facts.encoding), out, bid);
        return out;
    }

    // The leaves of a data tree; checks the XBLOCK totals on the way.
    void leaves(std::uint64_t bid, std::vector<std::vector<std::uint8_t>>& out, const QString& what)
    {
        std::vector<std::uint8_t> block = data(bid);
        if (!(bid & 2)) {
            out.push_back(std::move(block));
            return;
        }
        const SpanReader x(block);
        const unsigned level = x.u8(1);
        (level == 2 ? m_facts.hasXXBlock : m_facts.hasXBlock) = true;
        const std::size_t before = out.size();
        for (unsigned i = 0; i < x.u16(2); ++i)
            leaves(id(x, 8 + m_id * i), out, what);
        std::uint64_t total = 0;
        for (std::size_t i = before; i < out.size(); ++i)
            total += out[i].size();
        if (x.u8(0) != 1 || total != x.u32(4))
            problem(what + QStringLiteral(": XBLOCK total"));
    }

    void dataTree(std::uint64_t bid, const QString& what, bool mayBeHeap = true)
    {
        if (bid == 0)
            return;
        std::vector<std::vector<std::uint8_t>> blocks;
        leaves(bid, blocks, what);
        if (mayBeHeap && !blocks.empty() && blocks.front().size() >= 12 && blocks.front()[2] == 0xEC)
            heap(blocks, what);
    }

    std::vector<std::uint8_t> allocation(const std::vector<std::vector<std::uint8_t>>& blocks, std::uint32_t hid)
    {
        const unsigned shift = m_big ? 19 : 16;
        const std::size_t block = hid >> shift;
        const std::size_t index = (hid >> 5) & ((1u << (shift - 5)) - 1);
        if (block >= blocks.size() || index == 0)
            return {};
        const SpanReader b(blocks[block]);
        const std::size_t map = b.u16(0);
        if (index > b.u16(map))
            return {};
        const std::size_t from = b.u16(map + 4 + 2 * (index - 1));
        const std::size_t to = b.u16(map + 4 + 2 * index);
        const auto s = b.slice(from, to - from);
        return {s.begin(), s.end()};
    }

    void heap(const std::vector<std::vector<std::uint8_t>>& blocks, const QString& what)
    {
        m_facts.largestHeapBlocks = std::max<std::uint64_t>(m_facts.largestHeapBlocks, blocks.size());
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const SpanReader b(blocks[i]);
            const std::size_t map = b.u16(0);
            const std::size_t header = i == 0 ? 12 : (i % 128 == 8 ? 66 : 2);
            const unsigned count = b.u16(map);
            bool sound = map % 2 == 0 && b.has(map, 4 + 2 * (count + 1)) && b.u16(map + 4) == header;
            for (unsigned k = 0; sound && k < count; ++k)
                sound = b.u16(map + 4 + 2 * k) <= b.u16(map + 6 + 2 * k) && b.u16(map + 6 + 2 * k) <= map;
            if (!sound)
                problem(what + QStringLiteral(": page map of heap block %1").arg(i));
            if (i + 1 < blocks.size() && blocks[i].size() != (m_big ? 65512u : m_ansi ? 8180u : 8176u))
                problem(what + QStringLiteral(": heap block %1 is not full size").arg(i));
        }
        const SpanReader first(blocks.front());
        if (first.u8(3) != 0x7C)
            return;
        const std::vector<std::uint8_t> info = allocation(blocks, first.u32(4));
        const std::vector<std::uint8_t> index = allocation(blocks, SpanReader(info).u32(10));
        if (info.size() < 22 || index.size() != 8 || index[0] != 0xB5)
            return problem(what + QStringLiteral(": table header"));
        m_facts.rowIndexWithLevels = m_facts.rowIndexWithLevels || index[3] > 0;
        m_facts.rowMatrixInSubnode = m_facts.rowMatrixInSubnode || (SpanReader(info).u32(14) & 0x1F) != 0;
    }

    void subnodeTree(std::uint64_t bid, const QString& what)
    {
        if (bid == 0)
            return;
        const std::vector<std::uint8_t> block = data(bid);
        const SpanReader s(block);
        if (s.u8(0) != 2 || !(bid & 2))
            return problem(what + QStringLiteral(": subnode block"));
        const bool index = s.u8(1) == 1;
        m_facts.hasSIBlock = m_facts.hasSIBlock || index;
        std::uint32_t previous = 0;
        for (unsigned i = 0; i < s.u16(2); ++i) {
            const std::size_t e = (m_ansi ? 4 : 8) + i * (index ? 2 : 3) * m_id;
            const auto nid = std::uint32_t(id(s, e));
            if (i > 0 && nid <= previous)
                problem(what + QStringLiteral(": subnodes out of order"));
            previous = nid;
            if (index) {
                subnodeTree(id(s, e + m_id), what);
            } else {
                const QString sub = what + QStringLiteral(" / %1").arg(hex(nid));
                const bool value = (nid & 0x1F) == 0x1F || (nid & 0x1F) == 0x09; // raw bytes, not a heap
                dataTree(id(s, e + m_id), sub, !value);
                subnodeTree(id(s, e + 2 * m_id), sub);
            }
        }
    }

    QByteArray m_bytes;
    SpanReader m_file;
    PstFileFacts& m_facts;
    bool m_big = false;
    bool m_ansi = false;
    std::size_t m_id = 8;
    std::uint64_t m_page = 512, m_slot = 64, m_trailer = 16, m_firstMap = 0x4400, m_section = 253952;
    std::vector<bool> m_slots;
    std::map<std::uint32_t, std::pair<std::uint64_t, std::uint64_t>> m_nodes;
    std::map<std::uint64_t, Block> m_blocks;
};

} // namespace

PstFileFacts checkPstFile(const QString& path)
{
    PstFileFacts facts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        facts.problems << QStringLiteral("cannot read ") + path;
        return facts;
    }
    Checker(file.readAll(), facts).run();
    return facts;
}

} // namespace parcelon::test
