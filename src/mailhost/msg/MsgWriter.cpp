#include "mailhost/msg/MsgWriter.h"

#include "mailhost/msg/CompoundFileReader.h"
#include "mailhost/msg/NamedPropertyMap.h"
#include "mailhost/msg/ValueSource.h"
#include "mailhost/pst/messaging/PropertyIds.h"

#include <QDateTime>
#include <QtEndian>

#include <algorithm>
#include <array>

namespace parcelon::msg {

using namespace Qt::StringLiterals;
using pst::Error;
using pst::Result;
namespace PropType = pst::PropType;

namespace {

// CLSID_MailMessage {00020D0B-0000-0000-C000-000000000046}.
constexpr cfb::Clsid kMailMessage = {0x0B, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                     0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

constexpr std::uint16_t kStoreSupportMask = 0x340D;
constexpr std::uint32_t kStoreUnicodeOk = 0x00040000;
constexpr std::uint32_t kOutlookSupportMask = 0x00000E79;
constexpr std::uint16_t kLtpRowId = 0x67F2;  // table bookkeeping of the PST,
constexpr std::uint16_t kLtpRowVer = 0x67F3; // not a property of the recipient
constexpr std::uint16_t kServerId = 0x00FB;
constexpr std::uint32_t kObjectSize = 0xFFFFFFFF;
constexpr int kMaxStorageDepth = 64;

// Property stream headers: top-level message, attached message, recipient
// or attachment.
constexpr std::size_t kTopHeader = 32;
constexpr std::size_t kEmbeddedHeader = 24;
constexpr std::size_t kObjectHeader = 8;

QString hex8(std::uint32_t value)
{
    return u"%1"_s.arg(value, 8, 16, QChar(u'0')).toUpper();
}

QString valueStream(std::uint32_t tag)
{
    return u"__substg1.0_"_s + hex8(tag);
}

std::uint32_t tagOf(std::uint16_t id, std::uint16_t type)
{
    return std::uint32_t(id) << 16 | type;
}

// Values kept in a value stream of their own, as stored.
bool inOwnStream(std::uint16_t type)
{
    switch (type) {
    case PropType::String:
    case PropType::String8:
    case PropType::Binary:
    case PropType::Guid:
    case kServerId:
        return true;
    default:
        // Multiple fixed-size values, back to back.
        return (type & PropType::MultipleFlag) && pst::fixedSize(type & ~PropType::MultipleFlag) > 0;
    }
}

bool multipleVariable(std::uint16_t type)
{
    return type == (PropType::MultipleFlag | PropType::String) || type == (PropType::MultipleFlag | PropType::String8)
        || type == (PropType::MultipleFlag | PropType::Binary);
}

// The terminator a .msg counts with a string (not kept in its stream).
std::uint32_t terminatorSize(std::uint16_t type)
{
    return type == PropType::String ? 2 : type == PropType::String8 ? 1 : 0;
}

// Outlook gives its storages times, and readers may take the message's date
// from them: the message's last modification, else now.
std::uint64_t storageTime(const pst::Message& message)
{
    constexpr std::uint16_t kLastModificationTime = 0x3008;
    constexpr std::uint64_t kUnixEpoch = 116444736000000000; // 1970 in 100 ns steps since 1601
    const pst::PropertyContext::Entry* e = message.properties().find(kLastModificationTime);
    if (e && e->value.type == PropType::Time)
        if (auto bytes = message.properties().store().bytes(e->value, 8); bytes && bytes->size() == 8)
            if (const auto time = qFromLittleEndian<std::uint64_t>(bytes->data()); time != 0)
                return time;
    return kUnixEpoch + std::uint64_t(QDateTime::currentMSecsSinceEpoch()) * 10000;
}

// A PST may begin a subject with U+0001 and a character giving the length
// of its prefix ("RE: "); the bytes of that marker, which no .msg holds.
Result<std::uint64_t> subjectMarker(std::uint32_t tag, const ValueSource& value)
{
    const std::uint64_t unit = (tag & 0xFFFF) == PropType::String ? 2 : 1;
    if (tag >> 16 != pst::PropId::Subject || terminatorSize(tag & 0xFFFF) == 0 || value.size() < 2 * unit)
        return std::uint64_t(0);
    std::uint8_t first[2] = {0, 0};
    if (auto r = value.read(0, std::span<std::uint8_t>(first, unit)); !r)
        return r.error();
    return first[0] == 1 && (unit == 1 || first[1] == 0) ? 2 * unit : 0;
}

} // namespace

// The 16-byte entries of one property stream, and its header.
class MsgWriter::PropertyStream {
public:
    void fixed(std::uint32_t tag, pst::Bytes value)
    {
        auto& entry = add(tag);
        std::copy_n(value.begin(), std::min<std::size_t>(value.size(), 8), entry.begin() + 8);
    }

    void variable(std::uint32_t tag, std::uint32_t size) { qToLittleEndian(size, add(tag).data() + 8); }

    // Makes sure the store-support mask is there, saying whether strings are
    // UTF-16 (readers decide how to read strings by it).
    void setSupportMask()
    {
        const bool unicode = std::any_of(m_entries.begin(), m_entries.end(), [](const auto& e) {
            return (qFromLittleEndian<std::uint32_t>(e.data()) & 0xEFFF) == PropType::String;
        });
        const std::uint32_t tag = tagOf(kStoreSupportMask, PropType::Integer32);
        auto it = std::find_if(m_entries.begin(), m_entries.end(),
                               [tag](const auto& e) { return qFromLittleEndian<std::uint32_t>(e.data()) == tag; });
        std::uint32_t mask = it != m_entries.end() ? qFromLittleEndian<std::uint32_t>(it->data() + 8) : kOutlookSupportMask;
        mask = unicode ? mask | kStoreUnicodeOk : mask & ~kStoreUnicodeOk;
        if (it == m_entries.end())
            it = m_entries.insert(m_entries.end(), entry(tag));
        qToLittleEndian(mask, it->data() + 8);
    }

    std::vector<std::uint8_t> bytes(std::size_t headerSize, std::uint32_t recipients, std::uint32_t attachments) const
    {
        std::vector<std::array<std::uint8_t, 16>> sorted = m_entries;
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
            return qFromLittleEndian<std::uint32_t>(a.data()) < qFromLittleEndian<std::uint32_t>(b.data());
        });
        std::vector<std::uint8_t> out(headerSize, 0);
        if (headerSize >= kEmbeddedHeader) {
            qToLittleEndian(recipients, out.data() + 8);   // next recipient id
            qToLittleEndian(attachments, out.data() + 12); // next attachment id
            qToLittleEndian(recipients, out.data() + 16);
            qToLittleEndian(attachments, out.data() + 20);
        }
        for (const auto& e : sorted)
            out.insert(out.end(), e.begin(), e.end());
        return out;
    }

private:
    static std::array<std::uint8_t, 16> entry(std::uint32_t tag)
    {
        std::array<std::uint8_t, 16> e{};
        const std::uint16_t id = tag >> 16;
        // Readable and writable; Outlook marks the method and position mandatory too.
        const std::uint32_t flags = id == pst::PropId::AttachMethod || id == 0x370B ? 7 : 6;
        qToLittleEndian(tag, e.data());
        qToLittleEndian(flags, e.data() + 4);
        return e;
    }

    std::array<std::uint8_t, 16>& add(std::uint32_t tag)
    {
        m_entries.push_back(entry(tag));
        return m_entries.back();
    }

    std::vector<std::array<std::uint8_t, 16>> m_entries;
};

Result<void> MsgWriter::write(const pst::Message& message, const Output& output)
{
    auto names = NamedPropertyMap::read(message.store());
    if (!names)
        return names.error();
    CompoundFileWriter file(output);
    file.setClsid(CompoundFileWriter::kRoot, kMailMessage);
    file.setStorageTime(storageTime(message));
    if (auto r = names->write(file, CompoundFileWriter::kRoot); !r)
        return r;
    MsgWriter writer(file, message.store().blocks());
    if (auto r = writer.writeMessage(message, CompoundFileWriter::kRoot, 0); !r)
        return r;
    return file.finish();
}

Result<void> MsgWriter::countStream(const pst::Where& where)
{
    if (++m_streams > kMaxStreams)
        return pst::corrupt(where,
                            u"the message would be saved with more than %1 streams, more than any real message "
                            u"holds; its structures may lead to the same parts again and again"_s.arg(kMaxStreams));
    return {};
}

Result<void> MsgWriter::countAttachedMessage(const pst::Where& where)
{
    if (++m_attachedMessages > kMaxAttachedMessages)
        return pst::corrupt(where,
                            u"the message would be saved with more than %1 attached messages, more than any real "
                            u"message holds; its structures may lead to the same parts again and again"_s.arg(
                                kMaxAttachedMessages));
    return {};
}

Result<void> MsgWriter::countValue(const pst::ValueLocation& value, const pst::Where& where)
{
    if (!value.tree || value.tree->rootBid() == 0 || m_values.insert(value.tree->rootBid()).second)
        return {};
    m_repeatedBytes += value.size();
    if (m_repeatedBytes > kMaxRepeatedBytes)
        return pst::corrupt(where,
                            u"the message would be saved with more than %1 MB of values that the file stores once "
                            u"and refers to again and again"_s.arg(kMaxRepeatedBytes / (1024 * 1024)));
    return {};
}

Result<void> MsgWriter::writeMessage(const pst::Message& message, EntryId storage, int depth)
{
    std::uint32_t recipients = 0;
    if (auto r = writeRecipients(message, storage, recipients); !r)
        return r;

    auto ids = message.attachmentIds();
    if (!ids)
        return ids.error();
    for (std::size_t k = 0; k < ids->size(); ++k) {
        const pst::Where where = message.where().inside(u"attachment %1"_s.arg(k + 1));
        auto attachment = message.attachment((*ids)[k], where);
        if (!attachment)
            return attachment.error();
        auto sub = m_file.addStorage(storage, u"__attach_version1.0_#"_s + hex8(static_cast<std::uint32_t>(k)));
        if (!sub)
            return sub.error().withContext(where);
        if (auto r = writeAttachment(*attachment, *sub, depth); !r)
            return r;
    }

    PropertyStream properties;
    const pst::PropertyContext& pc = message.properties();
    std::optional<std::uint16_t> previous;
    for (const pst::PropertyContext::Entry& e : pc.entries()) {
        if (e.id == previous)
            continue; // a damaged context may hold an id twice: the first one counts
        previous = e.id;
        if (auto r = writeProperty(storage, tagOf(e.id, e.value.type), e.value, pc.store(), properties, message.where()); !r)
            return r;
    }
    if (depth == 0)
        properties.setSupportMask();
    const auto attachments = static_cast<std::uint32_t>(ids->size());
    const auto bytes = properties.bytes(depth == 0 ? kTopHeader : kEmbeddedHeader, recipients, attachments);
    if (auto r = countStream(message.where()); !r)
        return r;
    if (auto r = m_file.addStream(storage, u"__properties_version1.0"_s, bytes); !r)
        return r.error().withContext(message.where());
    return {};
}

Result<void> MsgWriter::writeRecipients(const pst::Message& message, EntryId storage, std::uint32_t& count)
{
    auto table = message.recipients();
    if (!table)
        return table.error();
    if (!*table)
        return {};
    const pst::TableContext& recipients = **table;
    for (std::size_t row = 0; row < recipients.rowCount(); ++row) {
        const pst::Where where = message.where().inside(u"recipient %1"_s.arg(row + 1));
        auto cells = recipients.cells(row);
        if (!cells)
            return cells.error().withContext(where);
        auto sub = m_file.addStorage(storage, u"__recip_version1.0_#"_s + hex8(static_cast<std::uint32_t>(row)));
        if (!sub)
            return sub.error().withContext(where);
        PropertyStream properties;
        for (const auto& [tag, value] : *cells) {
            const std::uint16_t id = tag >> 16;
            if (id == kLtpRowId || id == kLtpRowVer)
                continue;
            if (auto r = writeProperty(*sub, tag, value, recipients.store(), properties, where); !r)
                return r;
        }
        if (auto r = countStream(where); !r)
            return r;
        if (auto r = m_file.addStream(*sub, u"__properties_version1.0"_s, properties.bytes(kObjectHeader, 0, 0)); !r)
            return r.error().withContext(where);
        ++count;
    }
    return {};
}

Result<void> MsgWriter::writeAttachment(const pst::Attachment& attachment, EntryId storage, int depth)
{
    PropertyStream properties;
    const pst::PropertyContext& pc = attachment.properties();
    std::optional<std::uint16_t> previous;
    for (const pst::PropertyContext::Entry& e : pc.entries()) {
        if (e.id == previous)
            continue;
        previous = e.id;
        if (e.id == pst::PropId::AttachDataBinary && e.value.type == PropType::Object) {
            const int method = attachment.method();
            if (method != pst::AttachMethod::EmbeddedMessage && method != pst::AttachMethod::Storage)
                continue; // an object no reader would look for
            if (auto r = writeObject(attachment, storage, depth); !r)
                return r;
            properties.variable(tagOf(e.id, PropType::Object), kObjectSize);
            continue;
        }
        if (auto r = writeProperty(storage, tagOf(e.id, e.value.type), e.value, pc.store(), properties, attachment.where()); !r)
            return r;
    }
    if (auto r = countStream(attachment.where()); !r)
        return r;
    if (auto r = m_file.addStream(storage, u"__properties_version1.0"_s, properties.bytes(kObjectHeader, 0, 0)); !r)
        return r.error().withContext(attachment.where());
    return {};
}

Result<void> MsgWriter::writeObject(const pst::Attachment& attachment, EntryId storage, int depth)
{
    const QString name = valueStream(tagOf(pst::PropId::AttachDataBinary, PropType::Object));
    if (attachment.method() == pst::AttachMethod::EmbeddedMessage) {
        if (depth + 1 > kMaxDepth)
            return pst::corrupt(attachment.where(), u"attached messages are nested more than %1 deep"_s.arg(kMaxDepth));
        if (auto r = countAttachedMessage(attachment.where()); !r)
            return r;
        auto message = attachment.embeddedMessage();
        if (!message)
            return message.error();
        auto sub = m_file.addStorage(storage, name);
        if (!sub)
            return sub.error().withContext(attachment.where());
        return writeMessage(*message, *sub, depth + 1);
    }
    auto sub = m_file.addStorage(storage, name);
    if (!sub)
        return sub.error().withContext(attachment.where());
    return copyStorage(attachment, *sub);
}

Result<void> MsgWriter::copyStorage(const pst::Attachment& attachment, EntryId target)
{
    auto tree = attachment.storage();
    if (!tree)
        return tree.error();
    pst::ValueLocation location;
    location.tree = std::move(tree).value();
    const pst::Where where = attachment.where().inside(u"its OLE object"_s);
    if (auto r = countValue(location, where); !r)
        return r;
    const ValueSource source(m_blocks, std::move(location), where);
    auto reader = CompoundFileReader::open(source);
    if (!reader)
        return reader.error();
    m_file.setClsid(target, reader->entry(0).clsid);

    struct Pending {
        CompoundFileReader::EntryId from;
        EntryId to;
        int depth;
    };
    std::vector<Pending> pending{{0, target, 0}};
    while (!pending.empty()) {
        const Pending p = pending.back();
        pending.pop_back();
        for (const CompoundFileReader::EntryId child : reader->children(p.from)) {
            const CompoundFileReader::Entry& e = reader->entry(child);
            if (e.type == cfb::ObjectType::Storage) {
                if (p.depth + 1 > kMaxStorageDepth)
                    return pst::corrupt(where, u"its storages are nested more than %1 deep"_s.arg(kMaxStorageDepth));
                auto sub = m_file.addStorage(p.to, e.name);
                if (!sub)
                    return sub.error().withContext(where);
                m_file.setClsid(*sub, e.clsid);
                pending.push_back({child, *sub, p.depth + 1});
                continue;
            }
            if (auto r = countStream(where); !r)
                return r;
            auto copied = m_file.addStream(p.to, e.name, e.size,
                                           [&](const CompoundFileWriter::Sink& sink) { return reader->read(child, sink); });
            if (!copied)
                return copied.error().withContext(where);
        }
    }
    return {};
}

Result<void> MsgWriter::writeProperty(EntryId storage, std::uint32_t tag, const pst::StoredValue& value,
                                      const pst::ValueStore& store, PropertyStream& properties, const pst::Where& object)
{
    const auto type = static_cast<std::uint16_t>(tag & 0xFFFF);
    const pst::Where where = object.inside(u"property %1"_s.arg(pst::hex(tag)));
    if (const std::size_t fixed = pst::fixedSize(type); fixed > 0 && fixed <= 8) {
        auto bytes = store.bytes(value, 8);
        if (!bytes)
            return bytes.error().withContext(where);
        properties.fixed(tag, *bytes);
        return {};
    }
    if (!inOwnStream(type) && !multipleVariable(type))
        return {}; // objects, and types a .msg has no place for
    auto location = store.locate(value);
    if (!location)
        return location.error().withContext(where);
    if (auto r = countValue(*location, where); !r)
        return r;
    if (multipleVariable(type))
        return writeMultipleValues(storage, tag, *location, properties, where);

    const ValueSource source(m_blocks, std::move(location).value(), where);
    auto skip = subjectMarker(tag, source);
    if (!skip)
        return skip.error();
    const std::uint64_t size = source.size() - *skip;
    if (auto r = countStream(where); !r)
        return r;
    auto written = m_file.addStream(storage, valueStream(tag), size,
                                    [&](const CompoundFileWriter::Sink& sink) { return source.stream(*skip, size, sink); });
    if (!written)
        return written.error().withContext(where);
    properties.variable(tag, static_cast<std::uint32_t>(size + terminatorSize(type)));
    return {};
}

Result<void> MsgWriter::writeMultipleValues(EntryId storage, std::uint32_t tag, const pst::ValueLocation& value,
                                            PropertyStream& properties, const pst::Where& where)
{
    // Stored as a count, the offsets of the values, then the values; a
    // .msg keeps a stream of lengths and one stream per value.
    const ValueSource source(m_blocks, value, where);
    const std::uint64_t size = source.size();
    const auto damaged = [&](const QString& reason) { return pst::corrupt(where, u"its values are damaged: %1"_s.arg(reason)); };
    std::uint32_t count = 0;
    std::vector<std::uint8_t> table(4, 0);
    if (size > 0) {
        if (size < 4)
            return damaged(u"%1 bytes hold no count"_s.arg(size));
        if (auto r = source.read(0, table); !r)
            return r;
        count = qFromLittleEndian<std::uint32_t>(table.data());
        if (count > (size - 4) / 4)
            return damaged(u"%1 values do not fit in %2 bytes"_s.arg(count).arg(size));
        table.resize(4 + std::size_t(count) * 4);
        if (auto r = source.read(0, table); !r)
            return r;
    }
    const auto type = static_cast<std::uint16_t>(tag & 0xFFFF & ~PropType::MultipleFlag);
    const std::uint32_t terminator = terminatorSize(type);
    std::vector<std::uint8_t> lengths;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t begin = qFromLittleEndian<std::uint32_t>(table.data() + 4 + 4 * i);
        const std::uint64_t end = i + 1 < count ? qFromLittleEndian<std::uint32_t>(table.data() + 8 + 4 * i) : size;
        if (begin < table.size() || begin > end || end > size)
            return damaged(u"value %1 spans bytes %2 to %3 of %4"_s.arg(i).arg(begin).arg(end).arg(size));
        // Each value stream of a string ends with its terminator.
        bool terminated = false;
        if (terminator > 0 && end - begin >= terminator) {
            std::uint8_t last[2] = {1, 1};
            if (auto r = source.read(end - terminator, std::span<std::uint8_t>(last, terminator)); !r)
                return r;
            terminated = last[0] == 0 && (terminator == 1 || last[1] == 0);
        }
        const std::uint32_t added = terminated ? 0 : terminator;
        const std::uint64_t streamSize = end - begin + added;
        if (auto r = countStream(where); !r)
            return r;
        auto written = m_file.addStream(storage, valueStream(tag) + u"-"_s + hex8(i), streamSize,
                                        [&](const CompoundFileWriter::Sink& sink) -> Result<void> {
                                            if (auto r = source.stream(begin, end - begin, sink); !r)
                                                return r;
                                            const std::uint8_t zeros[2] = {0, 0};
                                            return sink(pst::Bytes(zeros, added));
                                        });
        if (!written)
            return written.error().withContext(where);
        const std::size_t at = lengths.size();
        lengths.resize(at + (type == PropType::Binary ? 8 : 4), 0);
        qToLittleEndian(static_cast<std::uint32_t>(streamSize), lengths.data() + at);
    }
    if (auto r = countStream(where); !r)
        return r;
    if (auto r = m_file.addStream(storage, valueStream(tag), lengths); !r)
        return r.error().withContext(where);
    properties.variable(tag, static_cast<std::uint32_t>(lengths.size()));
    return {};
}

} // namespace parcelon::msg
