#include "pstgen/MessageWriter.h"

#include "pstgen/ColumnSets.h"
#include "pstgen/ContentReader.h"
#include "pstgen/DataTreeWriter.h"
#include "pstgen/DescriptionReader.h"
#include "pstgen/PropertyContextBuilder.h"
#include "pstgen/PropertyTags.h"
#include "pstgen/SubnodeList.h"
#include "pstgen/ValueStorage.h"

#include <QCryptographicHash>

#include <algorithm>
#include <optional>

namespace parcelon::pstgen {

namespace {

constexpr std::uint32_t kMessageFlagRead = 0x01;
constexpr std::uint32_t kMessageFlagHasAttachment = 0x10;
constexpr std::uint32_t kImportanceNormal = 1;
constexpr std::uint32_t kNotRendered = 0xFFFFFFFF;
constexpr std::uint32_t kAttachFlagMhtmlReference = 0x4;
constexpr std::uint32_t kMailUser = 6; // PidTagObjectType
constexpr std::uint32_t kAttachmentTableNid = 0x671;
constexpr std::uint32_t kRecipientTableNid = 0x692;
constexpr std::uint8_t kAttachmentType = 0x05;
constexpr std::uint8_t kMessageType = 0x04;
constexpr std::uint8_t kOleStorageType = 0x09; // what Outlook uses for an OLE attachment's storage
constexpr std::uint8_t kLargeValueType = 0x1F;
constexpr std::size_t kChunk = 1 << 16;

QString joinedNames(const std::vector<Recipient>& recipients, Recipient::Type type)
{
    QStringList names;
    for (const auto& r : recipients)
        if (r.type == type)
            names << r.name;
    return names.join(QStringLiteral("; "));
}

} // namespace

// Everything about the message being written that its attachments need.
struct MessageWriter::Context {
    explicit Context(TextEncoding text) : text(text) {}

    TextEncoding text;
    SubnodeList subnodes;
    TableContextBuilder attachments{columns::attachments()};
    std::uint64_t attachmentBytes = 0;
    QStringList folder;
    std::uint64_t number = 0;
    QString messageClass;
    QString subject;
    std::uint64_t time = 0;
    int depth = 0;
};

MessageWriter::MessageWriter(NdbWriter& ndb, const QDateTime& baseTime, int codePage, const WriteOptions& options,
                             WriteReport& report)
    : m_ndb(ndb), m_baseTime(baseTime), m_codePage(codePage), m_options(options), m_report(report)
{
}

MessageWriter::Written MessageWriter::write(const Item& item, const Expansion& place, const QStringList& folder, int depth,
                                            TableContextBuilder::Row* contentsRow)
{
    Context message(TextEncoding(m_ndb, item.codePage.value_or(m_codePage)));
    message.folder = folder;
    message.number = place.message;
    message.messageClass = place.expand(item.messageClass);
    message.subject = place.expand(item.subject);
    message.depth = depth;

    // Without dates, messages arrive an hour apart from the base time on.
    QDateTime delivery =
        item.deliveryTime.value_or(item.submitTime ? item.submitTime->addSecs(120)
                                                   : m_baseTime.addSecs(3600 * qint64(place.message ? place.message - 1 : 0)));
    const QDateTime submit = item.submitTime.value_or(delivery.addSecs(-120));
    const std::uint64_t deliveryTime = fileTime(delivery);
    const std::uint64_t submitTime = fileTime(submit);
    message.time = deliveryTime;

    int position = 0;
    for (std::size_t i = 0; i < item.attachments.size(); ++i) {
        const Attachment& a = item.attachments[i];
        const std::uint64_t copies = place.copies('A', i, a.repeat);
        for (std::uint64_t c = 1; c <= copies && !m_ndb.failed(); ++c)
            writeAttachment(a, place.child('A', i, int(c), a.repeat.repeats()), position++, message);
    }
    const bool hasAttachments = position > 0;
    if (hasAttachments) {
        SubnodeList tableSubnodes;
        const std::uint64_t bid = message.attachments.write(m_ndb, tableSubnodes);
        message.subnodes.add(kAttachmentTableNid, bid, tableSubnodes.write(m_ndb));
    }

    TableContextBuilder recipients(columns::recipients());
    std::uint32_t recipientId = 0;
    for (const auto& r : item.recipients) {
        const QString name = place.expand(r.name);
        const QString email = place.expand(r.email);
        TableContextBuilder::Row row(++recipientId, nextRowVersion(), message.text);
        row.set(tag::RecipientType, std::uint32_t(r.type))
            .set(tag::Responsibility, 1)
            .setString(tag::DisplayName, name)
            .setString(tag::AddressType, QStringLiteral("SMTP"))
            .setString(tag::EmailAddress, email)
            .setBinary(tag::SearchKey, (QStringLiteral("SMTP:") + email.toUpper()).toUtf8() + '\0')
            .set(tag::ObjectType, kMailUser)
            .set(tag::DisplayType, 0)
            .setString(tag::DisplayNamePrintable, name)
            .set(tag::SendRichInfo, 0);
        recipients.addRow(std::move(row));
    }
    {
        SubnodeList tableSubnodes;
        const std::uint64_t bid = recipients.write(m_ndb, tableSubnodes);
        message.subnodes.add(kRecipientTableNid, bid, tableSubnodes.write(m_ndb));
    }

    const QString senderName = place.expand(item.senderName);
    const QString senderEmail = place.expand(item.senderEmail);
    const QString displayTo = joinedNames(item.recipients, Recipient::Type::To);
    const QString displayCc = joinedNames(item.recipients, Recipient::Type::Cc);
    const QString displayBcc = joinedNames(item.recipients, Recipient::Type::Bcc);
    const std::uint32_t flags = kMessageFlagRead | (hasAttachments ? kMessageFlagHasAttachment : 0);

    PropertyContextBuilder pc(message.text);
    if (message.text.ansi() || item.codePage)
        pc.setInteger(tag::MessageCodepage, std::uint32_t(message.text.codePage()));
    pc.setString(tag::MessageClass, message.messageClass);
    pc.setString(tag::Subject, message.subject);
    pc.setString(tag::ConversationTopic, message.subject);
    pc.setInteger(tag::Importance, kImportanceNormal);
    pc.setInteger(tag::Sensitivity, 0);
    pc.setInteger(tag::MessageFlags, flags);
    pc.setInteger(tag::MessageStatus, 0);
    pc.setBoolean(tag::HasAttachments, hasAttachments);
    pc.setInteger64(tag::ClientSubmitTime, submitTime);
    pc.setInteger64(tag::MessageDeliveryTime, deliveryTime);
    pc.setInteger64(tag::CreationTime, deliveryTime);
    pc.setInteger64(tag::LastModificationTime, deliveryTime);
    if (!senderName.isEmpty() || !senderEmail.isEmpty()) {
        pc.setString(tag::SenderName, senderName);
        pc.setString(tag::SenderEmailAddress, senderEmail);
        pc.setString(tag::SenderAddressType, QStringLiteral("SMTP"));
        pc.setString(tag::SentRepresentingName, senderName);
        pc.setString(tag::SentRepresentingEmailAddress, senderEmail);
        pc.setString(tag::SentRepresentingAddressType, QStringLiteral("SMTP"));
    }
    pc.setString(tag::DisplayTo, displayTo);
    pc.setString(tag::DisplayCc, displayCc);
    pc.setString(tag::DisplayBcc, displayBcc);
    pc.setString(tag::Body, place.expand(item.body));
    if (!item.htmlBody.isEmpty())
        pc.setBinary(tag::Html, place.expand(item.htmlBody).toUtf8());
    pc.setInteger(tag::MessageSize, 0);
    const auto size = std::uint32_t(std::min<std::uint64_t>(pc.valueSize() + message.attachmentBytes, 0x7FFFFFFF));
    pc.setInteger(tag::MessageSize, size);

    Written written;
    written.bidData = pc.write(m_ndb, message.subnodes);
    written.bidSub = message.subnodes.write(m_ndb);
    written.size = size;
    written.subject = message.subject;

    if (contentsRow) {
        contentsRow->set(tag::Importance, kImportanceNormal)
            .setString(tag::MessageClass, message.messageClass)
            .set(tag::Sensitivity, 0)
            .setString(tag::Subject, message.subject)
            .set(tag::ClientSubmitTime, submitTime)
            .set(tag::MessageToMe, 0)
            .set(tag::MessageCcMe, 0)
            .setString(tag::ConversationTopic, message.subject)
            .setString(tag::DisplayCc, displayCc)
            .setString(tag::DisplayTo, displayTo)
            .set(tag::MessageDeliveryTime, deliveryTime)
            .set(tag::MessageFlags, flags)
            .set(tag::MessageSize, size)
            .set(tag::MessageStatus, 0)
            .set(tag::LastModificationTime, deliveryTime);
        if (!senderName.isEmpty())
            contentsRow->setString(tag::SentRepresentingName, senderName);
    }
    return written;
}

void MessageWriter::writeAttachment(const Attachment& a, const Expansion& place, int position, Context& message)
{
    const auto expanded = [&](const std::optional<QString>& s) -> std::optional<QString> {
        if (!s)
            return std::nullopt;
        return place.expand(*s);
    };
    WrittenAttachment record;
    record.folder = message.folder;
    record.message = message.number;
    record.messageClass = message.messageClass;
    record.subject = message.subject;
    record.depth = message.depth;
    record.position = position;
    record.method = a.method;
    record.fileName = expanded(a.fileName);
    record.shortFileName =
        a.shortFromFileName && record.fileName ? DescriptionReader::shortFileName(*record.fileName) : expanded(a.shortFileName);
    record.displayName = expanded(a.displayName);
    record.codePage = message.text.codePage();

    SubnodeList subnodes;
    PropertyContextBuilder pc(message.text);
    pc.setInteger(tag::AttachMethod, a.method);
    std::uint64_t size = 0;
    switch (a.method) {
    case Attachment::ByValue:
        writeContent(a.content, place.key, tag::AttachDataBinary, pc, subnodes, false, record);
        size = record.size;
        break;
    case Attachment::Ole:
        writeContent(a.content, place.key, tag::AttachDataObject, pc, subnodes, true, record);
        size = record.size;
        break;
    case Attachment::EmbeddedMessage:
        if (a.embedded) {
            const Written inner = write(*a.embedded, place.child('E', 0, 1, false), message.folder, message.depth + 1, nullptr);
            const std::uint32_t nid = m_ndb.allocateNid(kMessageType);
            subnodes.add(nid, inner.bidData, inner.bidSub);
            pc.setObject(tag::AttachDataObject, nid, inner.size);
            size = inner.size;
        }
        break;
    default:
        if (a.path) {
            const QString path = place.expand(*a.path);
            pc.setString(tag::AttachLongPathname, path);
            if (a.method != Attachment::ByWebReference)
                pc.setString(tag::AttachPathname, path);
        }
        break;
    }
    const std::uint32_t attachSize = a.attachSize.value_or(std::uint32_t(std::min<std::uint64_t>(size, 0xFFFFFFFF)));

    if (record.fileName)
        pc.setString(tag::AttachLongFilename, *record.fileName);
    if (record.shortFileName)
        pc.setString(tag::AttachFilename, *record.shortFileName);
    if (record.displayName)
        pc.setString(tag::DisplayName, *record.displayName);
    if (const auto extension = expanded(a.extension))
        pc.setString(tag::AttachExtension, *extension);
    if (const auto mime = expanded(a.mimeType))
        pc.setString(tag::AttachMimeTag, *mime);
    if (const auto contentId = expanded(a.contentId))
        pc.setString(tag::AttachContentId, *contentId);
    pc.setInteger(tag::AttachSize, attachSize);
    pc.setInteger(tag::AttachNumber, std::uint32_t(position));
    pc.setInteger(tag::RenderingPosition, kNotRendered);
    pc.setBoolean(tag::AttachmentHidden, a.hidden);
    if (a.inlined)
        pc.setInteger(tag::AttachFlags, kAttachFlagMhtmlReference);
    pc.setInteger64(tag::CreationTime, message.time);
    pc.setInteger64(tag::LastModificationTime, message.time);

    const std::uint32_t nid = message.subnodes.allocate(kAttachmentType);
    const std::uint64_t bidData = pc.write(m_ndb, subnodes);
    message.subnodes.add(nid, bidData, subnodes.write(m_ndb));

    TableContextBuilder::Row row(nid, nextRowVersion(), message.text);
    row.set(tag::AttachSize, attachSize).set(tag::AttachMethod, a.method).set(tag::RenderingPosition, kNotRendered);
    if (record.shortFileName)
        row.setString(tag::AttachFilename, *record.shortFileName);
    message.attachments.addRow(std::move(row));
    message.attachmentBytes += attachSize;

    ++m_report.attachments;
    m_report.contentBytes += record.size;
    if (m_options.listAttachments)
        m_report.attachmentList.push_back(std::move(record));
}

void MessageWriter::writeContent(const Content& content, std::uint64_t key, std::uint32_t tag, PropertyContextBuilder& pc,
                                 SubnodeList& subnodes, bool alwaysSubnode, WrittenAttachment& record)
{
    auto opened = ContentReader::open(content, key);
    if (!opened) {
        m_ndb.fail(opened.error());
        return;
    }
    ContentReader& reader = **opened;
    record.size = reader.size();
    std::optional<QCryptographicHash> hash;
    if (m_options.hashAttachments)
        hash.emplace(QCryptographicHash::Sha256);

    const bool inHeap = !alwaysSubnode && reader.size() <= HeapBuilder::kMaxAllocation;
    DataTreeWriter tree(m_ndb);
    QByteArray small;
    m_buffer.resize(kChunk);
    while (reader.remaining() > 0 && !m_ndb.failed()) {
        const std::size_t n = std::size_t(std::min<std::uint64_t>(kChunk, reader.remaining()));
        const std::span<std::uint8_t> piece(m_buffer.data(), n);
        if (auto r = reader.read(piece); !r) {
            m_ndb.fail(r.error());
            return;
        }
        if (hash)
            hash->addData(QByteArrayView(piece.data(), qsizetype(n)));
        if (inHeap)
            small.append(reinterpret_cast<const char*>(piece.data()), qsizetype(n));
        else
            tree.append(piece);
    }
    if (hash)
        record.sha256 = hash->result();

    if (inHeap) {
        pc.setBinary(tag, small);
        return;
    }
    const std::uint8_t type = tag == tag::AttachDataObject ? kOleStorageType : kLargeValueType;
    const std::uint32_t nid = subnodes.allocate(type);
    subnodes.add(nid, tree.finish(), 0);
    if (tag == tag::AttachDataObject)
        pc.setObject(tag, nid, std::uint32_t(std::min<std::uint64_t>(record.size, 0xFFFFFFFF)));
    else
        pc.setSubnode(tag, nid, record.size);
}

} // namespace parcelon::pstgen
