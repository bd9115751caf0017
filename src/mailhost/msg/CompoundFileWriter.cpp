#include "mailhost/msg/CompoundFileWriter.h"

#include <QHash>
#include <QtEndian>

#include <algorithm>

namespace parcelon::msg {

using namespace Qt::StringLiterals;
using pst::Error;
using pst::ErrorKind;
using pst::Result;

namespace {

constexpr std::size_t kFlushSize = 256 * 1024;
constexpr std::uint32_t kEntriesPerTableSector = cfb::kSectorSize / 4;
constexpr std::uint32_t kFatNumbersPerDifatSector = kEntriesPerTableSector - 1;

template <class T>
void put(std::vector<std::uint8_t>& bytes, std::size_t offset, T value)
{
    qToLittleEndian(value, bytes.data() + offset);
}

std::uint32_t ceilDiv(std::uint64_t a, std::uint64_t b)
{
    return static_cast<std::uint32_t>((a + b - 1) / b);
}

// Values of a FAT-like table as whole sectors, unused slots free.
std::vector<std::uint8_t> tableBytes(const std::vector<std::uint32_t>& values)
{
    const std::uint32_t sectors = ceilDiv(values.size(), kEntriesPerTableSector);
    std::vector<std::uint8_t> bytes(std::size_t(sectors) * cfb::kSectorSize, 0xFF);
    for (std::size_t i = 0; i < values.size(); ++i)
        put(bytes, i * 4, values[i]);
    return bytes;
}

std::size_t nameKey(std::uint32_t parent, const QString& name)
{
    return qHash(name.toUpper(), parent);
}

} // namespace

std::uint32_t CompoundFileWriter::ChainTable::appendChain(std::uint32_t count, std::uint32_t end)
{
    const std::uint32_t first = m_size;
    if (count == 0)
        return first;
    m_runs.push_back({first, count, end, true});
    m_size += count;
    return first;
}

void CompoundFileWriter::ChainTable::appendSame(std::uint32_t count, std::uint32_t value)
{
    if (count == 0)
        return;
    m_runs.push_back({m_size, count, value, false});
    m_size += count;
}

void CompoundFileWriter::ChainTable::setEnd(std::uint32_t sector, std::uint32_t end)
{
    auto it =
        std::upper_bound(m_runs.begin(), m_runs.end(), sector, [](std::uint32_t s, const Run& run) { return s < run.first; });
    if (it == m_runs.begin())
        return;
    --it;
    if (!it->chained || sector != it->first + it->count - 1)
        return; // only the last sector of a chain is ever set
    it->end = end;
    // A chain continued by the sector right after it becomes one run.
    const auto next = it + 1;
    if (end == sector + 1 && next != m_runs.end() && next->first == end && next->chained) {
        it->count += next->count;
        it->end = next->end;
        m_runs.erase(next);
    }
}

Result<void> CompoundFileWriter::ChainTable::write(const std::function<Result<void>(pst::Bytes)>& sink) const
{
    std::vector<std::uint8_t> sector(cfb::kSectorSize, 0xFF);
    std::size_t used = 0;
    const auto add = [&](std::uint32_t value) -> Result<void> {
        put(sector, used * 4, value);
        if (++used < kEntriesPerTableSector)
            return {};
        used = 0;
        auto r = sink(sector);
        std::fill(sector.begin(), sector.end(), 0xFF);
        return r;
    };
    for (const Run& run : m_runs)
        for (std::uint32_t i = 0; i < run.count; ++i)
            if (auto r = add(run.chained && i + 1 < run.count ? run.first + i + 1 : run.end); !r)
                return r;
    return used > 0 ? sink(sector) : Result<void>();
}

CompoundFileWriter::CompoundFileWriter(Output output) : m_output(std::move(output))
{
    Entry root;
    const QString name = u"Root Entry"_s;
    std::copy(name.utf16(), name.utf16() + name.size(), root.name.begin());
    root.nameLength = static_cast<std::uint8_t>(name.size());
    root.type = cfb::ObjectType::Root;
    m_entries.push_back(std::move(root));
    m_buffer.assign(cfb::kHeaderSize, 0); // the header's place, written last
    m_appended = cfb::kHeaderSize;
}

void CompoundFileWriter::setClsid(EntryId storage, const cfb::Clsid& clsid)
{
    if (storage < m_entries.size() && m_entries[storage].type != cfb::ObjectType::Stream)
        m_entries[storage].clsid = clsid;
}

Result<void> CompoundFileWriter::failed(Error error)
{
    if (!m_error)
        m_error = std::move(error);
    return *m_error;
}

Result<void> CompoundFileWriter::check() const
{
    if (m_error)
        return *m_error;
    if (m_busy)
        return Error(ErrorKind::Unsupported, u"a stream is being written"_s);
    if (m_finished)
        return Error(ErrorKind::Unsupported, u"the compound file is complete"_s);
    return {};
}

Result<CompoundFileWriter::EntryId> CompoundFileWriter::addEntry(EntryId parent, const QString& name, cfb::ObjectType type)
{
    if (auto r = check(); !r)
        return r.error();
    if (parent >= m_entries.size() || m_entries[parent].type == cfb::ObjectType::Stream)
        return Error(ErrorKind::Unsupported, u"\"%1\" has no storage %2 to go into"_s.arg(name).arg(parent));
    if (const QString problem = cfb::nameProblem(name); !problem.isEmpty())
        return Error(ErrorKind::BadName, u"cannot name an entry \"%1\": %2"_s.arg(name, problem));
    const std::size_t key = nameKey(parent, name);
    for (auto [it, end] = m_names.equal_range(key); it != end; ++it)
        if (m_entries[it->second].parent == parent && cfb::compareNames(nameOf(it->second), name) == 0)
            return Error(ErrorKind::BadName, u"\"%1\" is in \"%2\" twice"_s.arg(name, nameOf(parent)));
    if (m_entries.size() > cfb::MaxRegSid)
        return Error(ErrorKind::Unsupported, u"too many entries for a compound file"_s);
    const auto id = static_cast<EntryId>(m_entries.size());
    Entry entry;
    std::copy(name.utf16(), name.utf16() + name.size(), entry.name.begin());
    entry.nameLength = static_cast<std::uint8_t>(name.size());
    entry.type = type;
    entry.parent = parent;
    m_entries.push_back(std::move(entry));
    m_entries[parent].children.push_back(id);
    m_names.emplace(key, id);
    return id;
}

Result<CompoundFileWriter::EntryId> CompoundFileWriter::addStorage(EntryId parent, const QString& name)
{
    return addEntry(parent, name, cfb::ObjectType::Storage);
}

Result<void> CompoundFileWriter::addStream(EntryId parent, const QString& name, pst::Bytes bytes)
{
    return addStream(parent, name, bytes.size(), [bytes](const Sink& sink) { return sink(bytes); });
}

Result<void> CompoundFileWriter::addStream(EntryId parent, const QString& name, std::uint64_t size, const Producer& produce)
{
    if (size > cfb::kMaxStreamSize)
        return Error(ErrorKind::Unsupported,
                     u"the stream \"%1\" would hold %2 bytes, more than a compound file "
                     u"of version 3 can hold (%3)"_s.arg(name)
                         .arg(size)
                         .arg(cfb::kMaxStreamSize));
    auto id = addEntry(parent, name, cfb::ObjectType::Stream);
    if (!id)
        return id.error();
    m_busy = true;
    auto written = size < cfb::kMiniStreamCutoff ? writeMiniStream(*id, size, produce) : writeOrdinaryStream(*id, size, produce);
    m_busy = false;
    if (!written)
        return failed(written.error());
    return {};
}

Result<void> CompoundFileWriter::writeOrdinaryStream(EntryId id, std::uint64_t size, const Producer& produce)
{
    const QString name = nameOf(id);
    std::uint64_t written = 0;
    std::uint32_t previous = cfb::EndOfChain;
    const Sink sink = [&](pst::Bytes piece) -> Result<void> {
        if (piece.size() > size - written)
            return Error(ErrorKind::Corrupt, u"the stream \"%1\" was given more than its %2 bytes"_s.arg(name).arg(size));
        while (!piece.empty()) {
            const std::uint32_t inSector = written % cfb::kSectorSize;
            if (inSector == 0) {
                const std::uint32_t sector = allocateSector();
                if (previous == cfb::EndOfChain)
                    m_entries[id].start = sector;
                else
                    m_fat.setEnd(previous, sector);
                previous = sector;
            }
            const std::size_t n = std::min<std::size_t>(piece.size(), cfb::kSectorSize - inSector);
            if (auto r = append(piece.first(n)); !r)
                return r;
            piece = piece.subspan(n);
            written += n;
        }
        return {};
    };
    if (auto r = produce(sink); !r)
        return r;
    if (written != size)
        return Error(ErrorKind::Corrupt, u"the stream \"%1\" was given %2 of its %3 bytes"_s.arg(name).arg(written).arg(size));
    if (previous != cfb::EndOfChain)
        m_fat.setEnd(previous, cfb::EndOfChain);
    m_entries[id].size = size;
    return padSector();
}

Result<void> CompoundFileWriter::writeMiniStream(EntryId id, std::uint64_t size, const Producer& produce)
{
    const QString name = nameOf(id);
    std::uint64_t written = 0;
    const Sink sink = [&](pst::Bytes piece) -> Result<void> {
        if (piece.size() > size - written)
            return Error(ErrorKind::Corrupt, u"the stream \"%1\" was given more than its %2 bytes"_s.arg(name).arg(size));
        written += piece.size();
        return appendMiniStream(piece);
    };
    if (auto r = produce(sink); !r)
        return r;
    if (written != size)
        return Error(ErrorKind::Corrupt, u"the stream \"%1\" was given %2 of its %3 bytes"_s.arg(name).arg(written).arg(size));
    const std::uint32_t sectors = ceilDiv(size, cfb::kMiniSectorSize);
    const std::vector<std::uint8_t> padding(std::size_t(sectors) * cfb::kMiniSectorSize - size, 0);
    if (auto r = appendMiniStream(padding); !r)
        return r;
    const auto first = static_cast<std::uint32_t>(m_miniSize / cfb::kMiniSectorSize);
    m_miniFat.appendChain(sectors, cfb::EndOfChain);
    m_miniSize += std::uint64_t(sectors) * cfb::kMiniSectorSize;
    m_entries[id].start = sectors > 0 ? first : cfb::EndOfChain;
    m_entries[id].size = size;
    return {};
}

std::uint32_t CompoundFileWriter::allocateSector()
{
    return m_fat.appendChain(1, cfb::FreeSect);
}

Result<void> CompoundFileWriter::append(pst::Bytes bytes)
{
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
    m_appended += bytes.size();
    return m_buffer.size() >= kFlushSize ? flush() : Result<void>();
}

Result<void> CompoundFileWriter::padSector()
{
    const std::size_t used = m_appended % cfb::kSectorSize;
    if (used == 0)
        return {};
    const std::vector<std::uint8_t> zeros(cfb::kSectorSize - used, 0);
    return append(zeros);
}

Result<void> CompoundFileWriter::flush()
{
    if (m_buffer.empty())
        return {};
    auto r = m_output.write(m_buffer);
    m_buffer.clear();
    return r;
}

Result<void> CompoundFileWriter::appendMiniStream(pst::Bytes bytes)
{
    while (!bytes.empty()) {
        const std::size_t n = std::min<std::size_t>(bytes.size(), cfb::kSectorSize - m_miniSector.size());
        m_miniSector.insert(m_miniSector.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        bytes = bytes.subspan(n);
        if (m_miniSector.size() == cfb::kSectorSize)
            if (auto r = flushMiniSector(); !r)
                return r;
    }
    return {};
}

Result<void> CompoundFileWriter::flushMiniSector()
{
    const std::uint32_t sector = allocateSector();
    if (m_lastMiniSector == cfb::EndOfChain)
        m_entries[kRoot].start = sector;
    else
        m_fat.setEnd(m_lastMiniSector, sector);
    m_fat.setEnd(sector, cfb::EndOfChain);
    m_lastMiniSector = sector;
    m_miniSector.resize(cfb::kSectorSize, 0);
    auto r = append(m_miniSector);
    m_miniSector.clear();
    return r;
}

Result<std::uint32_t> CompoundFileWriter::appendTable(const ChainTable& table)
{
    const std::uint32_t first = m_fat.appendChain(ceilDiv(table.size(), kEntriesPerTableSector), cfb::EndOfChain);
    if (auto r = table.write([this](pst::Bytes sector) { return append(sector); }); !r)
        return r.error();
    return first;
}

QString CompoundFileWriter::nameOf(EntryId id) const
{
    const Entry& e = m_entries[id];
    return QString::fromUtf16(e.name.data(), e.nameLength);
}

void CompoundFileWriter::buildTree(EntryId storage)
{
    std::vector<EntryId> sorted = m_entries[storage].children;
    std::sort(sorted.begin(), sorted.end(), [&](EntryId a, EntryId b) { return cfb::compareNames(nameOf(a), nameOf(b)) < 0; });
    // A tree split at the middle has all its empty links on its last two
    // levels; making the nodes of the deepest level red (unless that level
    // is full) gives every path the same number of black nodes.
    const std::size_t n = sorted.size();
    int height = 0;
    while ((std::size_t(2) << height) - 1 < n)
        ++height;
    const bool perfect = n == (std::size_t(1) << (height + 1)) - 1;
    const std::function<std::uint32_t(std::size_t, std::size_t, int)> build = [&](std::size_t lo, std::size_t hi,
                                                                                  int depth) -> std::uint32_t {
        if (lo >= hi)
            return cfb::NoStream;
        const std::size_t mid = lo + (hi - lo) / 2;
        Entry& node = m_entries[sorted[mid]];
        node.colour = depth == height && !perfect ? cfb::Colour::Red : cfb::Colour::Black;
        node.left = build(lo, mid, depth + 1);
        node.right = build(mid + 1, hi, depth + 1);
        return sorted[mid];
    };
    m_entries[storage].child = build(0, n, 0);
}

// The directory, a sector (four entries) at a time.
Result<void> CompoundFileWriter::writeDirectory()
{
    const std::size_t count = (m_entries.size() + 3) / 4 * 4;
    std::vector<std::uint8_t> bytes(cfb::kSectorSize, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = i % 4 * cfb::kEntrySize;
        if (i % 4 == 0)
            std::fill(bytes.begin(), bytes.end(), 0);
        if (i >= m_entries.size()) {
            put(bytes, at + cfb::EntryField::Left, cfb::NoStream);
            put(bytes, at + cfb::EntryField::Right, cfb::NoStream);
            put(bytes, at + cfb::EntryField::Child, cfb::NoStream);
        } else {
            const Entry& e = m_entries[i];
            for (std::size_t k = 0; k < e.nameLength; ++k)
                put(bytes, at + cfb::EntryField::Name + 2 * k, static_cast<std::uint16_t>(e.name[k]));
            put(bytes, at + cfb::EntryField::NameLength, static_cast<std::uint16_t>((e.nameLength + 1) * 2));
            bytes[at + cfb::EntryField::Type] = static_cast<std::uint8_t>(e.type);
            bytes[at + cfb::EntryField::Colour] =
                static_cast<std::uint8_t>(e.type == cfb::ObjectType::Root ? cfb::Colour::Black : e.colour);
            put(bytes, at + cfb::EntryField::Left, e.left);
            put(bytes, at + cfb::EntryField::Right, e.right);
            put(bytes, at + cfb::EntryField::Child, e.child);
            std::copy(e.clsid.begin(), e.clsid.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + cfb::EntryField::Clsid));
            const bool storage = e.type == cfb::ObjectType::Storage;
            if (e.type != cfb::ObjectType::Stream) {
                put(bytes, at + cfb::EntryField::Created, storage ? m_storageTime : std::uint64_t(0));
                put(bytes, at + cfb::EntryField::Modified, m_storageTime);
            }
            put(bytes, at + cfb::EntryField::StartSector, storage ? 0u : e.start);
            put(bytes, at + cfb::EntryField::StreamSize, storage ? std::uint64_t(0) : e.size);
        }
        if (i % 4 == 3)
            if (auto r = append(bytes); !r)
                return r;
    }
    return {};
}

std::vector<std::uint8_t> CompoundFileWriter::header(std::uint32_t fatSectors, std::uint32_t firstDirectory,
                                                     std::uint32_t firstMiniFat, std::uint32_t miniFatSectors,
                                                     std::uint32_t firstDifat, std::uint32_t difatSectors) const
{
    using namespace cfb::HeaderField;
    std::vector<std::uint8_t> bytes(cfb::kHeaderSize, 0);
    std::copy(cfb::kSignature.begin(), cfb::kSignature.end(), bytes.begin());
    put<std::uint16_t>(bytes, MinorVersion, 0x003E);
    put<std::uint16_t>(bytes, MajorVersion, 0x0003);
    put<std::uint16_t>(bytes, ByteOrder, 0xFFFE);
    put<std::uint16_t>(bytes, SectorShift, 9);
    put<std::uint16_t>(bytes, MiniSectorShift, 6);
    put<std::uint32_t>(bytes, FatSectors, fatSectors);
    put<std::uint32_t>(bytes, FirstDirectorySector, firstDirectory);
    put<std::uint32_t>(bytes, MiniStreamCutoff, cfb::kMiniStreamCutoff);
    put<std::uint32_t>(bytes, FirstMiniFatSector, firstMiniFat);
    put<std::uint32_t>(bytes, MiniFatSectors, miniFatSectors);
    put<std::uint32_t>(bytes, FirstDifatSector, firstDifat);
    put<std::uint32_t>(bytes, DifatSectors, difatSectors);
    const std::uint32_t firstFat = static_cast<std::uint32_t>(m_fat.size()) - fatSectors - difatSectors;
    for (std::uint32_t i = 0; i < cfb::kHeaderDifatSlots; ++i)
        put<std::uint32_t>(bytes, Difat + 4 * i, i < fatSectors ? firstFat + i : cfb::FreeSect);
    return bytes;
}

Result<void> CompoundFileWriter::finish()
{
    if (auto r = check(); !r)
        return r;
    const auto fail = [this](const Error& error) { return failed(error); };
    if (!m_miniSector.empty())
        if (auto r = flushMiniSector(); !r)
            return fail(r.error());
    m_entries[kRoot].size = m_miniSize;

    std::uint32_t firstMiniFat = cfb::EndOfChain;
    const std::uint32_t miniFatSectors = ceilDiv(m_miniFat.size(), kEntriesPerTableSector);
    if (!m_miniFat.empty()) {
        auto first = appendTable(m_miniFat);
        if (!first)
            return fail(first.error());
        firstMiniFat = *first;
    }

    for (EntryId id = 0; id < m_entries.size(); ++id)
        if (m_entries[id].type != cfb::ObjectType::Stream)
            buildTree(id);
    const std::uint32_t firstDirectory = m_fat.appendChain(ceilDiv(m_entries.size(), 4), cfb::EndOfChain);
    if (auto r = writeDirectory(); !r)
        return fail(r.error());

    // The FAT describes itself and the DIFAT: grow both until they fit.
    const std::uint64_t dataSectors = m_fat.size();
    std::uint32_t fatSectors = 0, difatSectors = 0;
    for (;;) {
        const std::uint32_t fat = ceilDiv(dataSectors + fatSectors + difatSectors, kEntriesPerTableSector);
        const std::uint32_t difat =
            fat > cfb::kHeaderDifatSlots ? ceilDiv(fat - cfb::kHeaderDifatSlots, kFatNumbersPerDifatSector) : 0;
        if (fat == fatSectors && difat == difatSectors)
            break;
        fatSectors = fat;
        difatSectors = difat;
    }
    if (dataSectors + fatSectors + difatSectors > std::uint64_t(cfb::MaxRegSect) + 1)
        return fail(Error(ErrorKind::Unsupported, u"the compound file would need more sectors than it can number"_s));
    const auto firstFat = static_cast<std::uint32_t>(dataSectors);
    const std::uint32_t firstDifatSector = firstFat + fatSectors;
    m_fat.appendSame(fatSectors, cfb::FatSect);
    m_fat.appendSame(difatSectors, cfb::DifSect);
    if (auto r = m_fat.write([this](pst::Bytes sector) { return append(sector); }); !r)
        return fail(r.error());
    for (std::uint32_t k = 0; k < difatSectors; ++k) {
        std::vector<std::uint32_t> numbers;
        for (std::uint32_t i = 0; i < kFatNumbersPerDifatSector; ++i) {
            const std::uint64_t fat = cfb::kHeaderDifatSlots + std::uint64_t(k) * kFatNumbersPerDifatSector + i;
            numbers.push_back(fat < fatSectors ? firstFat + static_cast<std::uint32_t>(fat) : cfb::FreeSect);
        }
        numbers.push_back(k + 1 < difatSectors ? firstDifatSector + k + 1 : cfb::EndOfChain);
        if (auto r = append(tableBytes(numbers)); !r)
            return fail(r.error());
    }
    if (auto r = flush(); !r)
        return fail(r.error());
    const auto head = header(fatSectors, firstDirectory, firstMiniFat, miniFatSectors,
                             difatSectors > 0 ? firstDifatSector : cfb::EndOfChain, difatSectors);
    if (auto r = m_output.writeAt(0, head); !r)
        return fail(r.error());
    m_finished = true;
    return {};
}

} // namespace parcelon::msg
