#include "pstgen/NdbWriter.h"

#include "pstgen/RecordBuffer.h"

#include "mailhost/pst/bytes/Crc.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace parcelon::pstgen {

namespace {

enum PageType : std::uint8_t {
    ptypeBBT = 0x80,
    ptypeNBT = 0x81,
    ptypeFMap = 0x82,
    ptypePMap = 0x83,
    ptypeAMap = 0x84,
    ptypeFPMap = 0x85,
    ptypeDL = 0x86,
};

constexpr std::uint32_t kPageMapSpacing = 512; // PMap, FMap and FPMap follow the AMap at this spacing
constexpr std::uint16_t kBlockReferences = 2;  // one node refers to each block, plus one
constexpr std::uint8_t kValidAMap2 = 2;
constexpr std::uint32_t kDListEntries = 8;  // where the density list's entries begin
constexpr std::uint32_t kDListPadding = 12; // unused bytes after them

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

// Sections that carry a PMap, FMap or FPMap after their AMap.
bool hasPMap(std::uint64_t section)
{
    return section % 8 == 0;
}
bool hasFMap(std::uint64_t section)
{
    return section >= 128 && (section - 128) % 496 == 0;
}
bool hasFPMap(std::uint64_t section)
{
    return section >= 8192 && (section - 8192) % 31744 == 0;
}

} // namespace

NdbWriter::NdbWriter(QFileDevice& file, const Geometry& geometry, pst::Encoding encoding)
    : m_file(file), m_geometry(geometry), m_encoding(encoding)
{
    m_rgnid.fill(0x400);
    m_rgnid[0x03] = 0x4000;  // search folders
    m_rgnid[0x04] = 0x10000; // messages
    m_rgnid[0x08] = 0x8000;  // associated messages
    m_section.reserve(m_geometry.sectionSize);
    openSection(0);
}

void NdbWriter::fail(const pst::Error& error)
{
    if (!m_error)
        m_error = error;
}

std::uint64_t NdbWriter::addDataBlock(std::span<const std::uint8_t> data)
{
    if (failed())
        return 0;
    if (data.empty() || data.size() > m_geometry.maxBlockData) {
        fail(pst::Error(pst::ErrorKind::Unsupported, QStringLiteral("a data block of %1 bytes").arg(data.size())));
        return 0;
    }
    const std::uint64_t bid = m_nextBid;
    m_nextBid += 4;
    m_scratch.assign(data.begin(), data.end());
    pst::encodeBlock(m_encoding, m_scratch, bid);
    if (m_geometry.format == Format::Unicode4k) {
        // Blocks of 4 KiB-page files are zlib streams when that is shorter.
        std::vector<std::uint8_t> packed(compressBound(uLong(m_scratch.size())));
        uLongf packedSize = uLongf(packed.size());
        if (compress2(packed.data(), &packedSize, m_scratch.data(), uLong(m_scratch.size()), Z_DEFAULT_COMPRESSION) == Z_OK
            && packedSize < m_scratch.size()) {
            packed.resize(packedSize);
            return writeBlock(bid, packed, std::uint16_t(data.size()));
        }
    }
    return writeBlock(bid, m_scratch, std::uint16_t(data.size()));
}

std::uint64_t NdbWriter::addInternalBlock(std::span<const std::uint8_t> data)
{
    if (failed())
        return 0;
    if (data.empty() || data.size() > m_geometry.maxBlockData) {
        fail(pst::Error(pst::ErrorKind::Unsupported, QStringLiteral("an index block of %1 bytes").arg(data.size())));
        return 0;
    }
    const std::uint64_t bid = m_nextBid | 2;
    m_nextBid += 4;
    return writeBlock(bid, data, std::uint16_t(data.size()));
}

std::uint64_t NdbWriter::writeBlock(std::uint64_t bid, std::span<const std::uint8_t> stored, std::uint16_t cbInflated)
{
    const std::uint32_t disk = m_geometry.blockDiskSize(std::uint32_t(stored.size()));
    const std::uint64_t ib = place(disk, m_geometry.slotSize);
    std::uint8_t* p = at(ib);
    std::memcpy(p, stored.data(), stored.size());
    std::uint8_t* trailer = p + disk - m_geometry.blockTrailerSize;
    store16(trailer, std::uint16_t(stored.size()));
    store16(trailer + 2, blockSignature(ib, bid));
    if (m_geometry.ansi()) {
        // ANSI order: cb, wSig, bid, dwCRC.
        store32(trailer + 4, std::uint32_t(bid));
        store32(trailer + 8, pst::pstCrc(stored));
    } else {
        store32(trailer + 4, pst::pstCrc(stored));
        store64(trailer + 8, bid);
    }
    if (m_geometry.format == Format::Unicode4k) {
        store16(trailer + 16, 2);
        store16(trailer + 18, cbInflated);
    }
    m_blocks.push_back({bid, ib, std::uint16_t(stored.size()), cbInflated});
    return bid;
}

void NdbWriter::addNode(std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub, std::uint32_t parent)
{
    m_nodes.push_back({nid, bidData, bidSub, parent});
    // Keep the header's counters past every id in use.
    auto& last = m_rgnid[nid & 0x1F];
    last = std::max(last, nid >> 5);
}

std::uint32_t NdbWriter::allocateNid(std::uint8_t type)
{
    return (++m_rgnid[type & 0x1F] << 5) | (type & 0x1F);
}

std::uint64_t NdbWriter::place(std::uint32_t size, std::uint32_t alignment)
{
    std::uint64_t pos = alignUp(m_sectionStart + m_section.size(), alignment);
    if (pos + size > m_sectionStart + m_geometry.sectionSize) {
        closeSection();
        openSection(m_sectionIndex + 1);
        pos = alignUp(m_sectionStart + m_section.size(), alignment);
    }
    if (pos + size > m_geometry.maxFileSize)
        fail(pst::Error(pst::ErrorKind::Unsupported,
                        QStringLiteral("the file would grow past the %1 bytes its format allows").arg(m_geometry.maxFileSize)));
    m_section.resize(pos + size - m_sectionStart, 0);
    const std::uint64_t first = (pos - m_sectionStart) / m_geometry.slotSize;
    const std::uint64_t count = (size + m_geometry.slotSize - 1) / m_geometry.slotSize;
    for (std::uint64_t s = first; s < first + count; ++s)
        m_slotBits[s / 8] |= std::uint8_t(0x80 >> (s % 8));
    return pos;
}

void NdbWriter::openSection(std::uint64_t index)
{
    m_sectionIndex = index;
    m_sectionStart = m_geometry.sectionStart(index);
    m_section.clear();
    m_slotBits.assign(m_geometry.slotsPerSection() / 8, 0);
    place(m_geometry.pageSize, m_geometry.pageSize); // the AMap
    if (!m_geometry.hasPageMaps)
        return;
    // Each map page has its own place after the AMap, present or not.
    const auto reserve = [&](std::uint64_t slot) {
        m_section.resize(slot * kPageMapSpacing, 0);
        return place(kPageMapSpacing, kPageMapSpacing);
    };
    if (hasPMap(index))
        reserve(1);
    if (hasFMap(index))
        m_freeMapPages.push_back(reserve(2));
    if (hasFPMap(index))
        m_freePageMapPages.push_back(reserve(3));
}

void NdbWriter::closeSection()
{
    if (failed())
        return;
    const std::uint32_t bodySize = m_geometry.pageDataSize() - m_geometry.mapPadding;
    std::uint8_t* amap = at(m_sectionStart);
    std::memcpy(amap + m_geometry.mapPadding, m_slotBits.data(), bodySize);
    sealPage(amap, ptypeAMap, m_sectionStart, m_sectionStart, false);
    if (m_geometry.hasPageMaps && hasPMap(m_sectionIndex)) {
        // Page maps are no longer used: every page counts as taken.
        std::uint8_t* pmap = at(m_sectionStart + kPageMapSpacing);
        std::memset(pmap + m_geometry.mapPadding, 0xFF, bodySize);
        sealPage(pmap, ptypePMap, m_sectionStart + kPageMapSpacing, m_sectionStart + kPageMapSpacing, false);
    }

    std::uint32_t free = 0;
    std::uint32_t run = 0;
    std::uint32_t longest = 0;
    for (std::uint32_t s = 0; s < m_geometry.slotsPerSection(); ++s) {
        if (m_slotBits[s / 8] & (0x80 >> (s % 8))) {
            run = 0;
        } else {
            ++free;
            longest = std::max(longest, ++run);
        }
    }
    m_freeSlots.push_back(free);
    m_longestFree.push_back(std::uint8_t(std::min<std::uint32_t>(longest, 255)));
    writeAt(m_sectionStart, m_section);
}

void NdbWriter::sealPage(std::uint8_t* page, std::uint8_t ptype, std::uint64_t bid, std::uint64_t ib, bool signature) const
{
    const std::uint32_t body = m_geometry.pageDataSize();
    std::uint8_t* trailer = page + body;
    std::memset(trailer, 0, m_geometry.pageTrailerSize);
    trailer[0] = ptype;
    trailer[1] = ptype;
    store16(trailer + 2, signature ? blockSignature(ib, bid) : 0);
    const std::uint32_t crc = pst::pstCrc(std::span<const std::uint8_t>(page, body));
    if (m_geometry.ansi()) {
        // ANSI order: ptype, ptypeRepeat, wSig, bid, dwCRC.
        store32(trailer + 4, std::uint32_t(bid));
        store32(trailer + 8, crc);
    } else {
        store32(trailer + 4, crc);
        store64(trailer + 8, bid);
    }
}

NdbWriter::PageRef NdbWriter::writeBTreePage(std::uint8_t ptype, std::uint8_t level, std::uint8_t entrySize,
                                             std::span<const std::uint8_t> entries, std::uint64_t firstKey)
{
    const std::uint64_t ib = place(m_geometry.pageSize, m_geometry.pageSize);
    const std::uint64_t bid = m_nextPageBid++;
    std::uint8_t* page = at(ib);
    if (!entries.empty()) // an empty tree is one empty page
        std::memcpy(page, entries.data(), entries.size());
    const auto count = std::uint16_t(entries.size() / entrySize);
    const auto capacity = std::uint16_t(m_geometry.btEntryBytes / entrySize);
    std::uint8_t* meta = page + m_geometry.btMetaOffset;
    if (m_geometry.format == Format::Unicode4k) {
        store16(meta, count);
        store16(meta + 2, capacity);
        meta[4] = entrySize;
        meta[5] = level;
    } else {
        meta[0] = std::uint8_t(count);
        meta[1] = std::uint8_t(capacity);
        meta[2] = entrySize;
        meta[3] = level;
    }
    sealPage(page, ptype, bid, ib, true);
    return {firstKey, bid, ib};
}

NdbWriter::PageRef NdbWriter::writeBTree(std::uint8_t ptype, std::uint8_t entrySize, const std::vector<std::uint8_t>& entries,
                                         const std::vector<std::uint64_t>& keys)
{
    const std::size_t perLeaf = m_geometry.btEntryBytes / entrySize;
    std::vector<PageRef> level;
    for (std::size_t first = 0; first < keys.size() || level.empty(); first += perLeaf) {
        const std::size_t n = std::min(perLeaf, keys.size() - first);
        level.push_back(writeBTreePage(ptype, 0, entrySize,
                                       std::span<const std::uint8_t>(entries).subspan(first * entrySize, n * entrySize),
                                       n ? keys[first] : 0));
    }
    const auto btEntrySize = std::uint8_t(m_geometry.btEntrySize());
    const std::uint32_t width = m_geometry.idSize;
    const std::size_t perPage = m_geometry.btEntryBytes / btEntrySize;
    for (std::uint8_t depth = 1; level.size() > 1; ++depth) {
        std::vector<PageRef> upper;
        for (std::size_t first = 0; first < level.size(); first += perPage) {
            const std::size_t n = std::min(perPage, level.size() - first);
            RecordBuffer buf(n * btEntrySize);
            for (std::size_t i = first; i < first + n; ++i)
                buf.id(level[i].key, width).id(level[i].bid, width).id(level[i].ib, width);
            upper.push_back(writeBTreePage(ptype, depth, btEntrySize, buf.span(), level[first].key));
        }
        level = std::move(upper);
    }
    return level.front();
}

pst::Result<std::uint64_t> NdbWriter::finish()
{
    if (failed())
        return *m_error;

    std::sort(m_nodes.begin(), m_nodes.end(), [](const NodeEntry& a, const NodeEntry& b) { return a.nid < b.nid; });
    for (std::size_t i = 1; i < m_nodes.size(); ++i)
        if (m_nodes[i].nid == m_nodes[i - 1].nid)
            return pst::Error(pst::ErrorKind::Unsupported, QStringLiteral("node %1 written twice").arg(pst::hex(m_nodes[i].nid)));

    const std::uint32_t width = m_geometry.idSize;
    RecordBuffer nodes(m_nodes.size() * m_geometry.nbtEntrySize());
    std::vector<std::uint64_t> nodeKeys;
    nodeKeys.reserve(m_nodes.size());
    for (const auto& n : m_nodes) {
        nodes.id(n.nid, width).id(n.bidData, width).id(n.bidSub, width).u32(n.parent);
        if (!m_geometry.ansi())
            nodes.u32(0);
        nodeKeys.push_back(n.nid);
    }
    RecordBuffer blocks(m_blocks.size() * m_geometry.bbtEntrySize());
    std::vector<std::uint64_t> blockKeys;
    blockKeys.reserve(m_blocks.size());
    for (const auto& b : m_blocks) {
        blocks.id(b.bid, width).id(b.ib, width).u16(b.cb);
        if (m_geometry.format == Format::Unicode4k)
            blocks.u16(b.cbInflated).u16(kBlockReferences).u16(0);
        else if (m_geometry.ansi())
            blocks.u16(kBlockReferences);
        else
            blocks.u16(kBlockReferences).u32(0);
        blockKeys.push_back(b.bid);
    }
    m_blocks = {};
    const PageRef nbt = writeBTree(ptypeNBT, std::uint8_t(m_geometry.nbtEntrySize()), nodes.vector(), nodeKeys);
    const PageRef bbt = writeBTree(ptypeBBT, std::uint8_t(m_geometry.bbtEntrySize()), blocks.vector(), blockKeys);

    closeSection();
    const std::uint64_t fileEnd = m_sectionStart + m_geometry.sectionSize;
    writeMapPagesAtEnd();
    writeDensityList();
    writeHeader(nbt, bbt, fileEnd);
    if (!failed() && !m_file.resize(qint64(fileEnd)))
        fail(pst::Error(pst::ErrorKind::Io, QStringLiteral("cannot extend %1: %2").arg(m_file.fileName(), m_file.errorString())));
    if (!failed() && !m_file.flush())
        fail(pst::Error(pst::ErrorKind::Io, QStringLiteral("cannot write %1: %2").arg(m_file.fileName(), m_file.errorString())));
    if (failed())
        return *m_error;
    return fileEnd;
}

void NdbWriter::writeMapPagesAtEnd()
{
    std::vector<std::uint8_t> page(m_geometry.pageSize);
    const std::uint32_t body = m_geometry.pageDataSize();
    const std::uint32_t pad = m_geometry.mapPadding;
    for (std::size_t j = 0; j < m_freeMapPages.size(); ++j) {
        // One byte per AMap from the one this page starts with: its longest free run.
        std::fill(page.begin(), page.end(), 0);
        const std::size_t firstSection = 128 + 496 * j;
        for (std::size_t k = 0; k < body - pad && firstSection + k < m_longestFree.size(); ++k)
            page[pad + k] = m_longestFree[firstSection + k];
        sealPage(page.data(), ptypeFMap, m_freeMapPages[j], m_freeMapPages[j], false);
        writeAt(m_freeMapPages[j], std::span<const std::uint8_t>(page.data(), kPageMapSpacing));
    }
    for (const std::uint64_t offset : m_freePageMapPages) {
        std::fill(page.begin(), page.end(), 0);
        std::memset(page.data() + pad, 0xFF, body - pad);
        sealPage(page.data(), ptypeFPMap, offset, offset, false);
        writeAt(offset, std::span<const std::uint8_t>(page.data(), kPageMapSpacing));
    }
}

void NdbWriter::writeDensityList()
{
    std::vector<std::uint8_t> page(m_geometry.pageSize, 0);
    if (m_geometry.hasPageMaps) {
        // The sections with free room, the emptiest first.
        std::vector<std::uint32_t> order;
        for (std::uint32_t k = 0; k < m_freeSlots.size(); ++k)
            if (m_freeSlots[k] > 0)
                order.push_back(k);
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return m_freeSlots[a] > m_freeSlots[b]; });
        const std::size_t capacity = (m_geometry.pageDataSize() - kDListEntries - kDListPadding) / 4; // 120 or 119
        if (order.size() > capacity)
            order.resize(capacity);
        page[0] = 0x01; // DFL_BACKFILL_COMPLETE
        page[1] = std::uint8_t(order.size());
        store32(page.data() + 4, std::uint32_t(m_sectionIndex));
        for (std::size_t i = 0; i < order.size(); ++i)
            store32(page.data() + kDListEntries + 4 * i, (order[i] & 0xFFFFF) | (m_freeSlots[order[i]] << 20));
    }
    sealPage(page.data(), ptypeDL, m_nextPageBid, m_geometry.dlistOffset, true);
    writeAt(m_geometry.dlistOffset, page);
}

void NdbWriter::writeHeader(const PageRef& nbt, const PageRef& bbt, std::uint64_t fileEnd)
{
    std::uint64_t freeSlots = 0;
    for (const std::uint32_t f : m_freeSlots)
        freeSlots += f;
    const bool ansi = m_geometry.ansi();
    const std::uint32_t w = m_geometry.idSize;
    std::array<std::uint8_t, 128> filled;
    filled.fill(0xFF);

    RecordBuffer h(m_geometry.headerSize);
    h.bytes(std::array<std::uint8_t, 4>{'!', 'B', 'D', 'N'});
    h.u32(0);                                      // dwCRCPartial, below
    h.u16(0x4D53).u16(m_geometry.version).u16(19); // "SM", wVer, wVerClient
    h.u8(1).u8(1);                                 // bPlatformCreate, bPlatformAccess
    h.u32(0).u32(0);                               // dwReserved1, dwReserved2
    if (ansi)
        h.u32(std::uint32_t(m_nextBid)).u32(std::uint32_t(m_nextPageBid)); // bidNextB, bidNextP
    else
        h.u64(0).u64(m_nextPageBid); // bidUnused, bidNextP
    h.u32(1);                        // dwUnique
    for (const std::uint32_t n : m_rgnid)
        h.u32(n);
    if (!ansi)
        h.u64(0); // qwUnused
    // ROOT
    h.u32(0);
    h.id(fileEnd, w);
    h.id(m_sectionStart, w); // ibAMapLast
    h.id(freeSlots * m_geometry.slotSize, w);
    h.id(0, w); // cbPMapFree
    h.id(nbt.bid, w).id(nbt.ib, w);
    h.id(bbt.bid, w).id(bbt.ib, w);
    h.u8(kValidAMap2).u8(0).u16(0);
    if (!ansi)
        h.u32(0);                  // dwAlign
    h.bytes(filled).bytes(filled); // rgbFM, rgbFP
    h.u8(0x80);                    // bSentinel
    h.u8(std::uint8_t(m_encoding));
    h.u16(0);
    if (!ansi)
        h.u64(m_nextBid).u32(0); // bidNextB, dwCRCFull (below)
    h.zeros(m_geometry.headerSize - h.size());

    auto& bytes = h.vector();
    if (!ansi)
        store32(bytes.data() + 524, pst::pstCrc(std::span<const std::uint8_t>(bytes).subspan(8, 516)));
    store32(bytes.data() + 4, pst::pstCrc(std::span<const std::uint8_t>(bytes).subspan(8, 471)));
    writeAt(0, bytes);
}

void NdbWriter::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    if (failed())
        return;
    if (!m_file.seek(qint64(offset))
        || m_file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) != qint64(bytes.size()))
        fail(pst::Error(pst::ErrorKind::Io, QStringLiteral("cannot write %1: %2").arg(m_file.fileName(), m_file.errorString())));
}

} // namespace parcelon::pstgen
