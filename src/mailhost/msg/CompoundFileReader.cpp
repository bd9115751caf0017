#include "mailhost/msg/CompoundFileReader.h"

#include "mailhost/pst/bytes/SpanReader.h"

#include <algorithm>

namespace parcelon::msg {

using namespace Qt::StringLiterals;
using pst::Error;
using pst::hex;
using pst::Result;
using pst::SpanReader;

Error CompoundFileReader::damaged(const QString& reason) const
{
    return pst::corrupt(m_source->where(), u"the compound file is damaged: %1"_s.arg(reason));
}

Result<CompoundFileReader> CompoundFileReader::open(const pst::ByteSource& source)
{
    CompoundFileReader reader(source);
    if (auto r = reader.readHeader(); !r)
        return r.error();
    if (auto r = reader.readFat(); !r)
        return r.error();
    if (auto r = reader.readDirectory(); !r)
        return r.error();
    if (auto r = reader.walkTrees(); !r)
        return r.error();
    return reader;
}

Result<void> CompoundFileReader::readHeader()
{
    if (m_source->size() < cfb::kHeaderSize)
        return Error(pst::ErrorKind::NotPst,
                     u"%1 is not a compound file: it has only %2 bytes"_s.arg(m_source->name()).arg(m_source->size()));
    std::vector<std::uint8_t> bytes(cfb::kHeaderSize);
    if (auto r = m_source->read(0, bytes); !r)
        return r;
    const SpanReader h(bytes);
    if (!std::equal(cfb::kSignature.begin(), cfb::kSignature.end(), bytes.begin()))
        return Error(pst::ErrorKind::NotPst, u"%1 is not a compound file"_s.arg(m_source->name()));
    using namespace cfb::HeaderField;
    Header& head = m_header;
    std::copy_n(bytes.begin() + Clsid, head.clsid.size(), head.clsid.begin());
    head.minorVersion = h.u16(MinorVersion);
    head.majorVersion = h.u16(MajorVersion);
    head.byteOrder = h.u16(ByteOrder);
    head.sectorShift = h.u16(SectorShift);
    head.miniSectorShift = h.u16(MiniSectorShift);
    head.directorySectors = h.u32(DirectorySectors);
    head.fatSectors = h.u32(FatSectors);
    head.firstDirectorySector = h.u32(FirstDirectorySector);
    head.transactionSignature = h.u32(TransactionSignature);
    head.miniStreamCutoff = h.u32(MiniStreamCutoff);
    head.firstMiniFatSector = h.u32(FirstMiniFatSector);
    head.miniFatSectors = h.u32(MiniFatSectors);
    head.firstDifatSector = h.u32(FirstDifatSector);
    head.difatSectors = h.u32(DifatSectors);
    for (std::uint32_t i = 0; i < cfb::kHeaderDifatSlots; ++i)
        head.difat.push_back(h.u32(Difat + 4 * i));

    if (head.byteOrder != 0xFFFE)
        return damaged(u"byte order mark %1"_s.arg(hex(head.byteOrder)));
    if (!(head.majorVersion == 3 && head.sectorShift == 9) && !(head.majorVersion == 4 && head.sectorShift == 12))
        return Error(pst::ErrorKind::Unsupported, m_source->where(),
                     u"a compound file of version %1 with sector shift %2"_s.arg(head.majorVersion).arg(head.sectorShift));
    if (head.miniSectorShift != 6 || head.miniStreamCutoff != cfb::kMiniStreamCutoff)
        return damaged(u"mini sector shift %1 and cutoff %2"_s.arg(head.miniSectorShift).arg(head.miniStreamCutoff));
    m_sectorSize = 1u << head.sectorShift;
    const std::uint64_t size = m_source->size();
    m_sectorCount = size > m_sectorSize ? (size - m_sectorSize + m_sectorSize - 1) / m_sectorSize : 0;
    if (m_sectorCount > cfb::MaxRegSect)
        return damaged(u"%1 sectors are more than can be numbered"_s.arg(m_sectorCount));
    m_usedSectors.assign(m_sectorCount, false);
    return {};
}

Result<void> CompoundFileReader::readSector(std::uint32_t sector, std::vector<std::uint8_t>& out) const
{
    out.assign(m_sectorSize, 0);
    if (sector >= m_sectorCount)
        return damaged(u"sector %1 lies outside the file"_s.arg(sector));
    const std::uint64_t offset = (std::uint64_t(sector) + 1) * m_sectorSize;
    // The last sector may be short in files whose writers did not pad it.
    const std::uint64_t available = std::min<std::uint64_t>(m_sectorSize, m_source->size() - offset);
    return m_source->read(offset, std::span<std::uint8_t>(out).first(available));
}

Result<std::vector<std::uint32_t>> CompoundFileReader::followChain(std::uint32_t start, const std::vector<std::uint32_t>& table,
                                                                   std::vector<bool>& used, std::uint64_t limit,
                                                                   const QString& what) const
{
    std::vector<std::uint32_t> chain;
    for (std::uint32_t s = start; s != cfb::EndOfChain; s = table[s]) {
        if (s > cfb::MaxRegSect)
            return damaged(u"the chain of %1 leads to %2 instead of a sector"_s.arg(what, hex(s)));
        if (s >= table.size() || s >= used.size())
            return damaged(u"the chain of %1 leads to sector %2, outside the file"_s.arg(what).arg(s));
        if (used[s])
            return damaged(u"sector %1 of %2 belongs to another chain as well"_s.arg(s).arg(what));
        if (chain.size() >= limit)
            return damaged(u"the chain of %1 is longer than %2 sectors"_s.arg(what).arg(limit));
        used[s] = true;
        chain.push_back(s);
    }
    return chain;
}

Result<void> CompoundFileReader::readFat()
{
    const Header& head = m_header;
    const std::uint32_t perSector = m_sectorSize / 4;
    if (head.fatSectors > m_sectorCount || head.difatSectors > m_sectorCount)
        return damaged(u"%1 FAT and %2 DIFAT sectors do not fit in the file"_s.arg(head.fatSectors).arg(head.difatSectors));

    std::vector<std::uint32_t> numbers(head.difat.begin(), head.difat.end());
    std::vector<std::uint8_t> sector;
    std::uint32_t next = head.firstDifatSector;
    for (std::uint32_t k = 0; k < head.difatSectors; ++k) {
        if (next >= m_sectorCount)
            return damaged(u"DIFAT sector %1 is %2, outside the file"_s.arg(k).arg(hex(next)));
        if (m_usedSectors[next])
            return damaged(u"DIFAT sector %1 is used twice"_s.arg(next));
        m_usedSectors[next] = true;
        m_difatSectors.push_back(next);
        if (auto r = readSector(next, sector); !r)
            return r;
        const SpanReader d(sector);
        for (std::uint32_t i = 0; i + 1 < perSector; ++i)
            numbers.push_back(d.u32(4 * i));
        next = d.u32(m_sectorSize - 4);
    }
    if (head.fatSectors > numbers.size())
        return damaged(u"the DIFAT lists fewer than %1 FAT sectors"_s.arg(head.fatSectors));
    m_fat.reserve(std::size_t(head.fatSectors) * perSector);
    for (std::uint32_t i = 0; i < head.fatSectors; ++i) {
        const std::uint32_t s = numbers[i];
        if (s >= m_sectorCount)
            return damaged(u"FAT sector %1 is %2, outside the file"_s.arg(i).arg(hex(s)));
        if (m_usedSectors[s])
            return damaged(u"FAT sector %1 (sector %2) is used twice"_s.arg(i).arg(s));
        m_usedSectors[s] = true;
        m_fatSectors.push_back(s);
        if (auto r = readSector(s, sector); !r)
            return r;
        const SpanReader f(sector);
        for (std::uint32_t j = 0; j < perSector; ++j)
            m_fat.push_back(f.u32(4 * j));
    }

    if (head.firstMiniFatSector != cfb::EndOfChain || head.miniFatSectors != 0) {
        auto chain = followChain(head.firstMiniFatSector, m_fat, m_usedSectors, m_sectorCount, u"the mini FAT"_s);
        if (!chain)
            return chain.error();
        if (chain->size() != head.miniFatSectors)
            return damaged(u"the mini FAT has %1 sectors where the header says %2"_s.arg(chain->size()).arg(head.miniFatSectors));
        m_miniFatChain = std::move(chain).value();
        for (std::uint32_t s : m_miniFatChain) {
            if (auto r = readSector(s, sector); !r)
                return r;
            const SpanReader f(sector);
            for (std::uint32_t j = 0; j < perSector; ++j)
                m_miniFat.push_back(f.u32(4 * j));
        }
    }
    return {};
}

Result<void> CompoundFileReader::readDirectory()
{
    auto chain = followChain(m_header.firstDirectorySector, m_fat, m_usedSectors, m_sectorCount, u"the directory"_s);
    if (!chain)
        return chain.error();
    if (chain->empty())
        return damaged(u"it has no directory"_s);
    m_directoryChain = std::move(chain).value();
    std::vector<std::uint8_t> sector;
    for (std::uint32_t s : m_directoryChain) {
        if (auto r = readSector(s, sector); !r)
            return r;
        for (std::uint32_t at = 0; at + cfb::kEntrySize <= m_sectorSize; at += cfb::kEntrySize) {
            using namespace cfb::EntryField;
            const SpanReader d(std::span<const std::uint8_t>(sector).subspan(at, cfb::kEntrySize));
            Entry e;
            e.raw.assign(sector.begin() + at, sector.begin() + at + cfb::kEntrySize);
            e.nameLength = d.u16(NameLength);
            const std::uint16_t units = std::min<std::uint16_t>(e.nameLength / 2, 32);
            for (std::uint16_t i = 0; i + 1 < units; ++i)
                e.name.append(QChar(d.u16(Name + 2 * i)));
            e.type = static_cast<cfb::ObjectType>(d.u8(Type));
            e.colour = static_cast<cfb::Colour>(d.u8(Colour));
            e.left = d.u32(Left);
            e.right = d.u32(Right);
            e.child = d.u32(Child);
            std::copy_n(e.raw.begin() + cfb::EntryField::Clsid, e.clsid.size(), e.clsid.begin());
            e.stateBits = d.u32(StateBits);
            e.created = d.u64(Created);
            e.modified = d.u64(Modified);
            e.start = d.u32(StartSector);
            // Version 3 files may hold junk in the size's high half.
            e.size = m_header.majorVersion == 3 ? d.u32(StreamSize) : d.u64(StreamSize);
            m_entries.push_back(std::move(e));
        }
    }
    if (m_entries[0].type != cfb::ObjectType::Root)
        return damaged(u"its first directory entry is of type %1, not the root"_s.arg(int(m_entries[0].type)));
    return {};
}

bool CompoundFileReader::inMiniStream(EntryId id) const
{
    const Entry& e = m_entries[id];
    return e.type == cfb::ObjectType::Stream && e.size < m_header.miniStreamCutoff;
}

Result<void> CompoundFileReader::walkTrees()
{
    const std::size_t count = m_entries.size();
    m_children.assign(count, {});
    m_parents.assign(count, cfb::NoStream);
    m_chains.assign(count, {});

    const Entry& root = m_entries[0];
    auto miniStream = followChain(root.start, m_fat, m_usedSectors, m_sectorCount, u"the mini stream"_s);
    if (!miniStream)
        return miniStream.error();
    if (miniStream->size() != (root.size + m_sectorSize - 1) / m_sectorSize)
        return damaged(u"the mini stream holds %1 bytes in %2 sectors"_s.arg(root.size).arg(miniStream->size()));
    m_chains[0] = std::move(miniStream).value();
    std::vector<bool> usedMini(std::min<std::uint64_t>(m_miniFat.size(), root.size / cfb::kMiniSectorSize), false);

    std::vector<bool> reached(count, false);
    reached[0] = true;
    std::vector<EntryId> storages{0};
    while (!storages.empty()) {
        const EntryId storage = storages.back();
        storages.pop_back();
        // In-order walk of the storage's child tree.
        std::vector<EntryId> pending;
        std::uint32_t node = m_entries[storage].child;
        const auto visit = [&](std::uint32_t id) -> Result<void> {
            if (id == cfb::NoStream)
                return {};
            if (id >= count)
                return damaged(
                    u"the children of \"%1\" lead to entry %2, outside the directory"_s.arg(m_entries[storage].name).arg(id));
            if (reached[id])
                return damaged(u"entry %1 (\"%2\") is reached twice"_s.arg(id).arg(m_entries[id].name));
            const auto type = m_entries[id].type;
            if (type != cfb::ObjectType::Storage && type != cfb::ObjectType::Stream)
                return damaged(u"entry %1 below \"%2\" is of type %3"_s.arg(id).arg(m_entries[storage].name).arg(int(type)));
            reached[id] = true;
            return {};
        };
        if (auto r = visit(node); !r)
            return r;
        while (node != cfb::NoStream || !pending.empty()) {
            while (node != cfb::NoStream) {
                pending.push_back(node);
                node = m_entries[node].left;
                if (auto r = visit(node); !r)
                    return r;
            }
            const EntryId id = pending.back();
            pending.pop_back();
            m_children[storage].push_back(id);
            m_parents[id] = storage;
            node = m_entries[id].right;
            if (auto r = visit(node); !r)
                return r;
        }
        for (EntryId id : m_children[storage]) {
            Entry& e = m_entries[id];
            if (e.type == cfb::ObjectType::Storage) {
                storages.push_back(id);
                continue;
            }
            const bool mini = e.size < m_header.miniStreamCutoff;
            const std::uint32_t unit = mini ? cfb::kMiniSectorSize : m_sectorSize;
            const std::uint64_t needed = (e.size + unit - 1) / unit;
            if (needed == 0)
                continue; // an empty stream has no chain, whatever its start says
            const QString what = u"the stream \"%1\""_s.arg(e.name);
            auto chain = mini ? followChain(e.start, m_miniFat, usedMini, needed, what)
                              : followChain(e.start, m_fat, m_usedSectors, needed, what);
            if (!chain)
                return chain.error();
            if (chain->size() != needed)
                return damaged(u"%1 holds %2 bytes but its chain has %3 sectors"_s.arg(what).arg(e.size).arg(chain->size()));
            m_chains[id] = std::move(chain).value();
        }
    }
    return {};
}

std::optional<CompoundFileReader::EntryId> CompoundFileReader::find(EntryId storage, const QString& name) const
{
    for (EntryId id : m_children[storage])
        if (cfb::compareNames(m_entries[id].name, name) == 0)
            return id;
    return std::nullopt;
}

Result<void> CompoundFileReader::read(EntryId stream, const std::function<Result<void>(pst::Bytes)>& sink) const
{
    const Entry& e = m_entries[stream];
    std::uint64_t left = e.size;
    std::vector<std::uint8_t> sector;
    if (!inMiniStream(stream)) {
        for (std::uint32_t s : m_chains[stream]) {
            if (auto r = readSector(s, sector); !r)
                return r;
            const std::size_t n = std::min<std::uint64_t>(left, m_sectorSize);
            if (auto r = sink(std::span<const std::uint8_t>(sector).first(n)); !r)
                return r;
            left -= n;
        }
        return {};
    }
    const std::vector<std::uint32_t>& miniStream = m_chains[0];
    std::uint32_t loaded = cfb::NoStream;
    for (std::uint32_t m : m_chains[stream]) {
        const std::uint64_t offset = std::uint64_t(m) * cfb::kMiniSectorSize;
        const std::uint32_t s = miniStream[offset / m_sectorSize];
        if (s != loaded) {
            if (auto r = readSector(s, sector); !r)
                return r;
            loaded = s;
        }
        const std::size_t n = std::min<std::uint64_t>(left, cfb::kMiniSectorSize);
        if (auto r = sink(std::span<const std::uint8_t>(sector).subspan(offset % m_sectorSize, n)); !r)
            return r;
        left -= n;
    }
    return {};
}

Result<std::vector<std::uint8_t>> CompoundFileReader::readAll(EntryId stream, std::uint64_t limit) const
{
    const Entry& e = m_entries[stream];
    if (e.size > limit)
        return damaged(u"the stream \"%1\" holds %2 bytes, more than the %3 expected"_s.arg(e.name).arg(e.size).arg(limit));
    std::vector<std::uint8_t> bytes;
    bytes.reserve(e.size);
    auto r = read(stream, [&](pst::Bytes piece) -> Result<void> {
        bytes.insert(bytes.end(), piece.begin(), piece.end());
        return {};
    });
    if (!r)
        return r.error();
    return bytes;
}

} // namespace parcelon::msg
