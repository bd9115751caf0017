#include "mailhost/msg/CompoundFileWriter.h"

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

} // namespace

CompoundFileWriter::CompoundFileWriter(Output output)
    : m_output(std::move(output))
{
    Entry root;
    root.name = u"Root Entry"_s;
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

Result<CompoundFileWriter::EntryId> CompoundFileWriter::addEntry(EntryId parent, const QString& name,
                                                                 cfb::ObjectType type)
{
    if (auto r = check(); !r)
        return r.error();
    if (parent >= m_entries.size() || m_entries[parent].type == cfb::ObjectType::Stream)
        return Error(ErrorKind::Unsupported, u"\"%1\" has no storage %2 to go into"_s.arg(name).arg(parent));
    if (const QString problem = cfb::nameProblem(name); !problem.isEmpty())
        return Error(ErrorKind::BadName, u"cannot name an entry \"%1\": %2"_s.arg(name, problem));
    if (!m_names.emplace(parent, name.toUpper()).second)
        return Error(ErrorKind::BadName, u"\"%1\" is in \"%2\" twice"_s.arg(name, m_entries[parent].name));
    if (m_entries.size() > cfb::MaxRegSid)
        return Error(ErrorKind::Unsupported, u"too many entries for a compound file"_s);
    const auto id = static_cast<EntryId>(m_entries.size());
    Entry entry;
    entry.name = name;
    entry.type = type;
    m_entries.push_back(std::move(entry));
    m_entries[parent].children.push_back(id);
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

Result<void> CompoundFileWriter::addStream(EntryId parent, const QString& name, std::uint64_t size,
                                           const Producer& produce)
{
    if (size > cfb::kMaxStreamSize)
        return Error(ErrorKind::Unsupported, u"the stream \"%1\" would hold %2 bytes, more than a compound file "
                                             u"of version 3 can hold (%3)"_s.arg(name).arg(size).arg(cfb::kMaxStreamSize));
    auto id = addEntry(parent, name, cfb::ObjectType::Stream);
    if (!id)
        return id.error();
    m_busy = true;
    Entry& entry = m_entries[*id];
    auto written = size < cfb::kMiniStreamCutoff ? writeMiniStream(entry, size, produce)
                                                 : writeOrdinaryStream(entry, size, produce);
    m_busy = false;
    if (!written)
        return failed(written.error());
    return {};
}

Result<void> CompoundFileWriter::writeOrdinaryStream(Entry& entry, std::uint64_t size, const Producer& produce)
{
    std::uint64_t written = 0;
    std::uint32_t previous = cfb::EndOfChain;
    const Sink sink = [&](pst::Bytes piece) -> Result<void> {
        if (piece.size() > size - written)
            return Error(ErrorKind::Corrupt, u"the stream \"%1\" was given more than its %2 bytes"_s.arg(entry.name).arg(size));
        while (!piece.empty()) {
            const std::uint32_t inSector = written % cfb::kSectorSize;
            if (inSector == 0) {
                const std::uint32_t sector = allocateSector();
                if (previous == cfb::EndOfChain)
                    entry.start = sector;
                else
                    m_fat[previous] = sector;
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
        return Error(ErrorKind::Corrupt,
                     u"the stream \"%1\" was given %2 of its %3 bytes"_s.arg(entry.name).arg(written).arg(size));
    m_fat[previous] = cfb::EndOfChain;
    entry.size = size;
    return padSector();
}

Result<void> CompoundFileWriter::writeMiniStream(Entry& entry, std::uint64_t size, const Producer& produce)
{
    std::uint64_t written = 0;
    const Sink sink = [&](pst::Bytes piece) -> Result<void> {
        if (piece.size() > size - written)
            return Error(ErrorKind::Corrupt, u"the stream \"%1\" was given more than its %2 bytes"_s.arg(entry.name).arg(size));
        written += piece.size();
        return appendMiniStream(piece);
    };
    if (auto r = produce(sink); !r)
        return r;
    if (written != size)
        return Error(ErrorKind::Corrupt,
                     u"the stream \"%1\" was given %2 of its %3 bytes"_s.arg(entry.name).arg(written).arg(size));
    const std::uint32_t sectors = ceilDiv(size, cfb::kMiniSectorSize);
    const std::vector<std::uint8_t> padding(std::size_t(sectors) * cfb::kMiniSectorSize - size, 0);
    if (auto r = appendMiniStream(padding); !r)
        return r;
    const auto first = static_cast<std::uint32_t>(m_miniSize / cfb::kMiniSectorSize);
    for (std::uint32_t i = 0; i < sectors; ++i)
        m_miniFat.push_back(i + 1 < sectors ? first + i + 1 : cfb::EndOfChain);
    m_miniSize += std::uint64_t(sectors) * cfb::kMiniSectorSize;
    entry.start = sectors > 0 ? first : cfb::EndOfChain;
    entry.size = size;
    return {};
}

std::uint32_t CompoundFileWriter::allocateSector()
{
    m_fat.push_back(cfb::FreeSect);
    return static_cast<std::uint32_t>(m_fat.size() - 1);
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
        m_fat[m_lastMiniSector] = sector;
    m_fat[sector] = cfb::EndOfChain;
    m_lastMiniSector = sector;
    m_miniSector.resize(cfb::kSectorSize, 0);
    auto r = append(m_miniSector);
    m_miniSector.clear();
    return r;
}

Result<std::uint32_t> CompoundFileWriter::appendTable(const std::vector<std::uint32_t>& values)
{
    const std::vector<std::uint8_t> bytes = tableBytes(values);
    const std::uint32_t first = static_cast<std::uint32_t>(m_fat.size());
    const std::uint32_t sectors = ceilDiv(bytes.size(), cfb::kSectorSize);
    for (std::uint32_t i = 0; i < sectors; ++i)
        m_fat.push_back(i + 1 < sectors ? first + i + 1 : cfb::EndOfChain);
    if (auto r = append(bytes); !r)
        return r.error();
    return first;
}

void CompoundFileWriter::buildTree(EntryId storage)
{
    std::vector<EntryId> sorted = m_entries[storage].children;
    std::sort(sorted.begin(), sorted.end(),
              [&](EntryId a, EntryId b) { return cfb::compareNames(m_entries[a].name, m_entries[b].name) < 0; });
    // A tree split at the middle has all its empty links on its last two
    // levels; making the nodes of the deepest level red (unless that level
    // is full) gives every path the same number of black nodes.
    const std::size_t n = sorted.size();
    int height = 0;
    while ((std::size_t(2) << height) - 1 < n)
        ++height;
    const bool perfect = n == (std::size_t(1) << (height + 1)) - 1;
    const std::function<std::uint32_t(std::size_t, std::size_t, int)> build =
        [&](std::size_t lo, std::size_t hi, int depth) -> std::uint32_t {
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

std::vector<std::uint8_t> CompoundFileWriter::directory() const
{
    const std::size_t count = (m_entries.size() + 3) / 4 * 4;
    std::vector<std::uint8_t> bytes(count * cfb::kEntrySize, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = i * cfb::kEntrySize;
        if (i >= m_entries.size()) {
            put(bytes, at + cfb::EntryField::Left, cfb::NoStream);
            put(bytes, at + cfb::EntryField::Right, cfb::NoStream);
            put(bytes, at + cfb::EntryField::Child, cfb::NoStream);
            continue;
        }
        const Entry& e = m_entries[i];
        for (qsizetype k = 0; k < e.name.size(); ++k)
            put(bytes, at + cfb::EntryField::Name + 2 * std::size_t(k), e.name.at(k).unicode());
        put(bytes, at + cfb::EntryField::NameLength, static_cast<std::uint16_t>((e.name.size() + 1) * 2));
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
    return bytes;
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
    const std::vector<std::uint8_t> entries = directory();
    const auto firstDirectory = static_cast<std::uint32_t>(m_fat.size());
    const std::uint32_t directorySectors = ceilDiv(entries.size(), cfb::kSectorSize);
    for (std::uint32_t i = 0; i < directorySectors; ++i)
        m_fat.push_back(i + 1 < directorySectors ? firstDirectory + i + 1 : cfb::EndOfChain);
    if (auto r = append(entries); !r)
        return fail(r.error());

    // The FAT describes itself and the DIFAT: grow both until they fit.
    const std::uint64_t dataSectors = m_fat.size();
    std::uint32_t fatSectors = 0, difatSectors = 0;
    for (;;) {
        const std::uint32_t fat = ceilDiv(dataSectors + fatSectors + difatSectors, kEntriesPerTableSector);
        const std::uint32_t difat = fat > cfb::kHeaderDifatSlots
                                        ? ceilDiv(fat - cfb::kHeaderDifatSlots, kFatNumbersPerDifatSector)
                                        : 0;
        if (fat == fatSectors && difat == difatSectors)
            break;
        fatSectors = fat;
        difatSectors = difat;
    }
    if (dataSectors + fatSectors + difatSectors > std::uint64_t(cfb::MaxRegSect) + 1)
        return fail(Error(ErrorKind::Unsupported, u"the compound file would need more sectors than it can number"_s));
    const auto firstFat = static_cast<std::uint32_t>(dataSectors);
    const std::uint32_t firstDifatSector = firstFat + fatSectors;
    m_fat.insert(m_fat.end(), fatSectors, cfb::FatSect);
    m_fat.insert(m_fat.end(), difatSectors, cfb::DifSect);
    if (auto r = append(tableBytes(m_fat)); !r)
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
