#include "StrictCheck.h"

#include "mailhost/pst/bytes/Crc.h"

#include <QtEndian>

#include <set>

namespace parcelon::test {

using namespace Qt::StringLiterals;
using msg::CompoundFileReader;
using EntryId = CompoundFileReader::EntryId;
namespace cfb = msg::cfb;

namespace {

std::uint32_t u32(const QByteArray& bytes, qsizetype at)
{
    return at + 4 <= bytes.size() ? qFromLittleEndian<std::uint32_t>(bytes.constData() + at) : 0;
}

// Walks one child tree; returns its black height, or -1 after a fault.
int blackHeight(const CompoundFileReader& file, std::uint32_t node, QStringList& faults, const QString& storage)
{
    if (node == cfb::NoStream)
        return 0;
    const auto& e = file.entry(node);
    for (std::uint32_t child : {e.left, e.right})
        if (child != cfb::NoStream && e.colour == cfb::Colour::Red && file.entry(child).colour == cfb::Colour::Red)
            faults << u"red \"%1\" has a red child in \"%2\""_s.arg(e.name, storage);
    const int left = blackHeight(file, e.left, faults, storage);
    const int right = blackHeight(file, e.right, faults, storage);
    if (left < 0 || right < 0)
        return -1;
    if (left != right) {
        faults << u"below \"%1\" in \"%2\" the paths have %3 and %4 black nodes"_s.arg(e.name, storage).arg(left).arg(right);
        return -1;
    }
    return left + (e.colour == cfb::Colour::Black ? 1 : 0);
}

void checkHeader(const CompoundFileReader& file, QStringList& faults)
{
    const auto& h = file.header();
    if (h.minorVersion != 0x3E || h.majorVersion != 3 || h.sectorShift != 9 || h.miniSectorShift != 6)
        faults << u"header: version %1.%2, shifts %3/%4"_s.arg(h.majorVersion)
                      .arg(h.minorVersion)
                      .arg(h.sectorShift)
                      .arg(h.miniSectorShift);
    if (h.directorySectors != 0 || h.transactionSignature != 0 || h.clsid != cfb::Clsid{})
        faults << u"header: directory sector count, transaction signature or CLSID not zero"_s;
    for (std::size_t i = h.fatSectors; i < h.difat.size(); ++i)
        if (h.difat[i] != cfb::FreeSect) {
            faults << u"header: DIFAT slot %1 is %2, not FREESECT"_s.arg(i).arg(h.difat[i]);
            break;
        }
    if (h.difatSectors == 0 && h.firstDifatSector != cfb::EndOfChain)
        faults << u"header: no DIFAT sectors but the first is %1"_s.arg(h.firstDifatSector);
    if (h.miniFatSectors == 0 && h.firstMiniFatSector != cfb::EndOfChain)
        faults << u"header: no mini FAT but its first sector is %1"_s.arg(h.firstMiniFatSector);
}

void checkSectors(const CompoundFileReader& file, std::uint64_t fileSize, QStringList& faults)
{
    const auto& fat = file.fat();
    const std::uint64_t count = file.sectorCount();
    if (fileSize != (count + 1) * cfb::kSectorSize)
        faults << u"the file's %1 bytes are not whole sectors"_s.arg(fileSize);
    std::vector<int> uses(count, 0);
    const auto use = [&](const std::vector<std::uint32_t>& sectors) {
        for (std::uint32_t s : sectors)
            ++uses[s];
    };
    use(file.fatSectorNumbers());
    use(file.difatSectorNumbers());
    use(file.miniFatChain());
    use(file.directoryChain());
    for (EntryId id = 0; id < file.entries().size(); ++id)
        if (id == 0 || !file.inMiniStream(id))
            use(file.chain(id));
    for (std::uint32_t s : file.fatSectorNumbers())
        if (fat[s] != cfb::FatSect)
            faults << u"FAT sector %1 is marked %2, not FATSECT"_s.arg(s).arg(fat[s]);
    for (std::uint32_t s : file.difatSectorNumbers())
        if (fat[s] != cfb::DifSect)
            faults << u"DIFAT sector %1 is marked %2, not DIFSECT"_s.arg(s).arg(fat[s]);
    for (std::uint64_t s = 0; s < count; ++s)
        if (uses[s] != 1)
            faults << u"sector %1 is used %2 times"_s.arg(s).arg(uses[s]);
    for (std::uint64_t s = count; s < fat.size(); ++s)
        if (fat[s] != cfb::FreeSect) {
            faults << u"FAT entry %1, past the end of the file, is %2"_s.arg(s).arg(fat[s]);
            break;
        }

    const std::uint64_t miniSize = file.entry(0).size;
    if (miniSize % cfb::kMiniSectorSize != 0)
        faults << u"the mini stream's %1 bytes are not whole mini sectors"_s.arg(miniSize);
    std::vector<int> miniUses(miniSize / cfb::kMiniSectorSize, 0);
    for (EntryId id = 1; id < file.entries().size(); ++id)
        if (file.inMiniStream(id))
            for (std::uint32_t m : file.chain(id))
                ++miniUses[m];
    for (std::size_t m = 0; m < miniUses.size(); ++m)
        if (miniUses[m] != 1)
            faults << u"mini sector %1 is used %2 times"_s.arg(m).arg(miniUses[m]);
    for (std::size_t m = miniUses.size(); m < file.miniFat().size(); ++m)
        if (file.miniFat()[m] != cfb::FreeSect) {
            faults << u"mini FAT entry %1, past the mini stream, is %2"_s.arg(m).arg(file.miniFat()[m]);
            break;
        }
}

void checkDirectory(const CompoundFileReader& file, QStringList& faults)
{
    std::vector<std::uint8_t> blank(cfb::kEntrySize, 0);
    for (std::size_t at : {cfb::EntryField::Left, cfb::EntryField::Right, cfb::EntryField::Child})
        qToLittleEndian(cfb::NoStream, blank.data() + at);
    for (EntryId id = 0; id < file.entries().size(); ++id) {
        const auto& e = file.entry(id);
        const bool reached = id == 0 || file.parent(id) != cfb::NoStream;
        if (!reached) {
            if (e.raw != blank)
                faults << u"entry %1 is reached from no storage but is not blank"_s.arg(id);
            continue;
        }
        if (const QString problem = cfb::nameProblem(e.name); !problem.isEmpty() || e.nameLength != (e.name.size() + 1) * 2)
            faults << u"entry %1 \"%2\": name length %3 %4"_s.arg(id).arg(e.name).arg(e.nameLength).arg(problem);
        for (std::size_t k = e.nameLength; k < 64; ++k)
            if (e.raw[k] != 0) {
                faults << u"entry %1 \"%2\": bytes after its name"_s.arg(id).arg(e.name);
                break;
            }
        if (e.stateBits != 0 || (e.type != cfb::ObjectType::Storage && e.created != 0)
            || (e.type == cfb::ObjectType::Stream && e.modified != 0))
            faults << u"entry %1 \"%2\": state bits or times set"_s.arg(id).arg(e.name);
        if (e.type == cfb::ObjectType::Stream && (e.clsid != cfb::Clsid{} || e.child != cfb::NoStream))
            faults << u"stream \"%1\" has a CLSID or children"_s.arg(e.name);
        if (e.type == cfb::ObjectType::Stream && e.size == 0 && e.start != cfb::EndOfChain)
            faults << u"empty stream \"%1\" starts at %2"_s.arg(e.name).arg(e.start);
        if (e.type == cfb::ObjectType::Storage && (e.start != 0 || e.size != 0))
            faults << u"storage \"%1\" has a start or size"_s.arg(e.name);
        if (e.type == cfb::ObjectType::Stream)
            continue;
        const auto& children = file.children(id);
        for (std::size_t k = 1; k < children.size(); ++k)
            if (cfb::compareNames(file.entry(children[k - 1]).name, file.entry(children[k]).name) >= 0)
                faults << u"in \"%1\", \"%2\" does not sort before \"%3\""_s.arg(e.name, file.entry(children[k - 1]).name,
                                                                                 file.entry(children[k]).name);
        if (e.child != cfb::NoStream && file.entry(e.child).colour != cfb::Colour::Black)
            faults << u"the child tree of \"%1\" has a red root"_s.arg(e.name);
        blackHeight(file, e.child, faults, e.name);
    }
}

bool variableType(std::uint16_t type)
{
    return type == 0x001E || type == 0x001F || type == 0x0102 || type == 0x0048 || type == 0x00FB || (type & 0x1000);
}

void checkPropertyStorage(const CompoundFileReader& file, EntryId storage, std::size_t headerSize, QStringList& faults);

void checkObjects(const CompoundFileReader& file, EntryId storage, const QString& prefix, std::uint32_t count, std::uint32_t next,
                  QStringList& faults)
{
    std::uint32_t found = 0;
    for (EntryId child : file.children(storage)) {
        const QString& name = file.entry(child).name;
        if (!name.startsWith(prefix))
            continue;
        ++found;
        bool ok = false;
        const std::uint32_t number = name.mid(prefix.size()).toUInt(&ok, 16);
        if (!ok || name.size() != prefix.size() + 8 || number >= next
            || name.mid(prefix.size()) != name.mid(prefix.size()).toUpper())
            faults << u"\"%1\" in \"%2\" is not numbered below %3"_s.arg(name, file.entry(storage).name).arg(next);
        checkPropertyStorage(file, child, 8, faults);
    }
    if (found != count)
        faults << u"\"%1\" counts %2 of \"%3\" but holds %4"_s.arg(file.entry(storage).name).arg(count).arg(prefix).arg(found);
}

void checkPropertyStorage(const CompoundFileReader& file, EntryId storage, std::size_t headerSize, QStringList& faults)
{
    const QString where = file.entry(storage).name;
    const auto streamId = file.find(storage, u"__properties_version1.0"_s);
    if (!streamId) {
        faults << u"\"%1\" has no property stream"_s.arg(where);
        return;
    }
    const QByteArray stream = streamBytes(file, storage, u"__properties_version1.0"_s);
    if (stream.size() < qsizetype(headerSize) || (stream.size() - headerSize) % 16 != 0) {
        faults
            << u"the property stream of \"%1\" has %2 bytes for a %3-byte header"_s.arg(where).arg(stream.size()).arg(headerSize);
        return;
    }
    if (headerSize >= 24) {
        checkObjects(file, storage, u"__recip_version1.0_#"_s, u32(stream, 16), u32(stream, 8), faults);
        checkObjects(file, storage, u"__attach_version1.0_#"_s, u32(stream, 20), u32(stream, 12), faults);
    }
    const auto properties = msgProperties(file, storage, headerSize);
    if (properties.size() != (stream.size() - headerSize) / 16)
        faults << u"\"%1\" holds a property twice"_s.arg(where);
    std::set<QString> expected;
    for (const auto& [tag, property] : properties) {
        const auto type = static_cast<std::uint16_t>(tag & 0xFFFF);
        const QString name = valueStreamName(tag);
        if (type == 0x000D) {
            const auto object = file.find(storage, name);
            if (!object || file.entry(*object).type != cfb::ObjectType::Storage || property.value != 0xFFFFFFFF)
                faults << u"object %1 of \"%2\" has no storage or size %3"_s.arg(name, where).arg(property.value);
            else if (tag == 0x3701000D && file.find(*object, u"__properties_version1.0"_s))
                checkPropertyStorage(file, *object, 24, faults);
            expected.insert(name);
            continue;
        }
        if (!variableType(type))
            continue;
        expected.insert(name);
        const auto value = file.find(storage, name);
        if (!value) {
            faults << u"\"%1\" has no stream %2"_s.arg(where, name);
            continue;
        }
        const std::uint64_t size = file.entry(*value).size;
        const std::uint64_t due = type == 0x001F ? size + 2 : type == 0x001E ? size + 1 : size;
        if (property.value != due)
            faults << u"%1 of \"%2\": size %3 for a stream of %4 bytes"_s.arg(name, where).arg(property.value).arg(size);
        if (type == 0x101F || type == 0x101E || type == 0x1102) {
            const std::uint64_t record = type == 0x1102 ? 8 : 4;
            const QByteArray lengths = streamBytes(file, storage, name);
            for (std::uint64_t i = 0; i < size / record; ++i) {
                const QString element = name + u"-"_s + u"%1"_s.arg(i, 8, 16, QChar(u'0')).toUpper();
                expected.insert(element);
                const auto id = file.find(storage, element);
                if (!id || file.entry(*id).size != u32(lengths, qsizetype(i * record)))
                    faults << u"value %1 of \"%2\" is missing or of another length"_s.arg(element, where);
            }
        }
    }
    for (EntryId child : file.children(storage)) {
        const QString& name = file.entry(child).name;
        if (name.startsWith(u"__substg1.0_"_s) && !expected.count(name))
            faults << u"\"%1\" in \"%2\" belongs to no property"_s.arg(name, where);
        if (name == u"__nameid_version1.0"_s && storage != 0)
            faults << u"\"%1\" has a map of named properties of its own"_s.arg(where);
    }
}

void checkNamedProperties(const CompoundFileReader& file, QStringList& faults)
{
    const auto map = file.find(0, u"__nameid_version1.0"_s);
    if (!map) {
        faults << u"no __nameid_version1.0 storage"_s;
        return;
    }
    const QByteArray guids = streamBytes(file, *map, u"__substg1.0_00020102"_s);
    const QByteArray entries = streamBytes(file, *map, u"__substg1.0_00030102"_s);
    const QByteArray strings = streamBytes(file, *map, u"__substg1.0_00040102"_s);
    if (!file.find(*map, u"__substg1.0_00020102"_s) || !file.find(*map, u"__substg1.0_00030102"_s)
        || !file.find(*map, u"__substg1.0_00040102"_s))
        faults << u"the map of named properties lacks a stream"_s;
    if (guids.size() % 16 != 0 || entries.size() % 8 != 0)
        faults << u"GUID stream of %1 or entry stream of %2 bytes"_s.arg(guids.size()).arg(entries.size());
    std::multiset<std::pair<std::uint32_t, std::uint32_t>> due[31];
    for (qsizetype at = 0; at + 8 <= entries.size(); at += 8) {
        std::uint32_t key = u32(entries, at);
        const std::uint32_t word = u32(entries, at + 4);
        if ((word >> 1 & 0x7FFF) > 2 + guids.size() / 16)
            faults << u"named property %1 has GUID index %2"_s.arg(at / 8).arg(word >> 1 & 0x7FFF);
        if (word & 1) {
            const std::uint32_t length = u32(strings, key);
            if (qsizetype(key) + 4 + qsizetype(length) > strings.size()) {
                faults << u"named property %1 names a string outside the string stream"_s.arg(at / 8);
                continue;
            }
            key = pst::pstCrc(std::span(reinterpret_cast<const std::uint8_t*>(strings.constData()) + key + 4, length));
        }
        due[(key ^ (word & 0xFFFF)) % 31].insert({key, word});
    }
    for (std::uint32_t k = 0; k < 31; ++k) {
        const QString name = u"__substg1.0_%1"_s.arg((0x1000 + k) << 16 | 0x0102, 8, 16, QChar(u'0'))
                                 .toUpper()
                                 .replace(u"__SUBSTG1.0_"_s, u"__substg1.0_"_s);
        const QByteArray bucket = streamBytes(file, *map, name);
        std::multiset<std::pair<std::uint32_t, std::uint32_t>> held;
        for (qsizetype at = 0; at + 8 <= bucket.size(); at += 8)
            held.insert({u32(bucket, at), u32(bucket, at + 4)});
        if (held != due[k] || bucket.size() % 8 != 0)
            faults << u"bucket %1 holds %2 records where %3 are due"_s.arg(name).arg(held.size()).arg(due[k].size());
    }
}

} // namespace

QString valueStreamName(std::uint32_t tag)
{
    return u"__substg1.0_"_s + u"%1"_s.arg(tag, 8, 16, QChar(u'0')).toUpper();
}

QByteArray streamBytes(const CompoundFileReader& file, EntryId storage, const QString& name)
{
    const auto id = file.find(storage, name);
    if (!id || file.entry(*id).type != cfb::ObjectType::Stream)
        return {};
    auto bytes = file.readAll(*id, 1ull << 32);
    return bytes ? QByteArray(reinterpret_cast<const char*>(bytes->data()), qsizetype(bytes->size())) : QByteArray();
}

std::map<std::uint32_t, MsgProperty> msgProperties(const CompoundFileReader& file, EntryId storage, std::size_t headerSize)
{
    const QByteArray stream = streamBytes(file, storage, u"__properties_version1.0"_s);
    std::map<std::uint32_t, MsgProperty> properties;
    for (qsizetype at = qsizetype(headerSize); at + 16 <= stream.size(); at += 16)
        properties[u32(stream, at)] = {u32(stream, at + 4), qFromLittleEndian<std::uint64_t>(stream.constData() + at + 8)};
    return properties;
}

QStringList compoundFileFaults(const CompoundFileReader& file, std::uint64_t fileSize)
{
    QStringList faults;
    checkHeader(file, faults);
    checkSectors(file, fileSize, faults);
    checkDirectory(file, faults);
    return faults;
}

QStringList msgFaults(const CompoundFileReader& file)
{
    QStringList faults;
    constexpr cfb::Clsid mailMessage = {0x0B, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    if (file.entry(0).clsid != mailMessage)
        faults << u"the root's CLSID is not CLSID_MailMessage"_s;
    checkPropertyStorage(file, 0, 32, faults);
    if (!msgProperties(file, 0, 32).count(0x340D0003))
        faults << u"no store-support mask"_s;
    checkNamedProperties(file, faults);
    return faults;
}

} // namespace parcelon::test
