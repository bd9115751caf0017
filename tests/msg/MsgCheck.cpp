#include "MsgCheck.h"

#include "Peers.h"
#include "StrictCheck.h"

#include "mailhost/pst/messaging/PropertyIds.h"
#include "testsupport/TestPaths.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QSet>

#include <gtest/gtest.h>

namespace parcelon::test {

using namespace Qt::StringLiterals;
using msg::CompoundFileReader;
using EntryId = CompoundFileReader::EntryId;
using Cells = std::vector<std::pair<std::uint32_t, pst::StoredValue>>;

namespace {

constexpr std::uint64_t kLimit = 256 * 1024 * 1024;
constexpr std::uint16_t kBody = 0x1000;
constexpr std::uint16_t kSenderName = 0x0C1A;

QString numbered(const QString& prefix, std::size_t n)
{
    return prefix + u"%1"_s.arg(n, 8, 16, QChar(u'0')).toUpper();
}

QByteArray bytesOf(const std::vector<std::uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

QString sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

Cells cellsOf(const pst::PropertyContext& pc)
{
    Cells cells;
    for (const auto& e : pc.entries())
        if (cells.empty() || cells.back().first >> 16 != e.id)
            cells.emplace_back(std::uint32_t(e.id) << 16 | e.value.type, e.value);
    return cells;
}

// Every value of an object as the .msg holds it, against the engine's.
void expectValues(const Cells& cells, const pst::ValueStore& store, const CompoundFileReader& file, EntryId storage,
                  std::size_t headerSize, const QString& what)
{
    const auto properties = msgProperties(file, storage, headerSize);
    for (const auto& [tag, value] : cells) {
        const auto type = static_cast<std::uint16_t>(tag & 0xFFFF);
        const std::uint16_t id = tag >> 16;
        const std::size_t fixed = pst::fixedSize(type);
        const bool stream = type == pst::PropType::String || type == pst::PropType::String8 || type == pst::PropType::Binary
            || type == pst::PropType::Guid || ((type & pst::PropType::MultipleFlag) && pst::fixedSize(type & 0x0FFF) > 0);
        if ((fixed == 0 || fixed > 8) && !stream)
            continue;
        if (id == 0x67F2 || id == 0x67F3 || (id == pst::PropId::AttachDataBinary && type == pst::PropType::Object))
            continue;
        const auto it = properties.find(tag);
        ASSERT_NE(it, properties.end()) << what.toStdString() << " lacks " << pst::hex(tag).toStdString();
        auto expected = store.bytes(value, kLimit);
        ASSERT_TRUE(expected) << expected.error().message().toStdString();
        if (!stream) {
            std::uint64_t packed = 0;
            for (std::size_t i = 0; i < expected->size(); ++i)
                packed |= std::uint64_t((*expected)[i]) << (8 * i);
            EXPECT_EQ(it->second.value, packed) << what.toStdString() << " " << pst::hex(tag).toStdString();
            continue;
        }
        QByteArray want = bytesOf(*expected);
        const int unit = type == pst::PropType::String ? 2 : 1;
        if (id == pst::PropId::Subject && want.size() >= 2 * unit && want[0] == 1)
            want.remove(0, 2 * unit);
        EXPECT_EQ(streamBytes(file, storage, valueStreamName(tag)), want)
            << what.toStdString() << " " << pst::hex(tag).toStdString();
    }
}

void expectMessage(const pst::Message& message, const CompoundFileReader& file, EntryId storage, std::size_t headerSize)
{
    expectValues(cellsOf(message.properties()), message.properties().store(), file, storage, headerSize, message.where().text());

    auto recipients = message.recipients();
    ASSERT_TRUE(recipients);
    const std::size_t rows = *recipients ? (*recipients)->rowCount() : 0;
    for (std::size_t row = 0; row < rows; ++row) {
        const auto sub = file.find(storage, numbered(u"__recip_version1.0_#"_s, row));
        ASSERT_TRUE(sub) << message.where().text().toStdString() << " recipient " << row;
        auto cells = (*recipients)->cells(row);
        ASSERT_TRUE(cells);
        expectValues(*cells, (*recipients)->store(), file, *sub, 8, message.where().text());
    }
    EXPECT_EQ(file.find(storage, numbered(u"__recip_version1.0_#"_s, rows)), std::nullopt);

    const auto ids = message.attachmentIds().value();
    for (std::size_t k = 0; k < ids.size(); ++k) {
        auto attachment = message.attachment(ids[k], message.where().inside(u"attachment %1"_s.arg(k + 1)));
        ASSERT_TRUE(attachment);
        const auto sub = file.find(storage, numbered(u"__attach_version1.0_#"_s, k));
        ASSERT_TRUE(sub) << attachment->where().text().toStdString();
        expectValues(cellsOf(attachment->properties()), attachment->properties().store(), file, *sub, 8,
                     attachment->where().text());
        const int method = attachment->method();
        if (method != pst::AttachMethod::EmbeddedMessage && method != pst::AttachMethod::Storage)
            continue;
        const auto object = file.find(*sub, u"__substg1.0_3701000D"_s);
        ASSERT_TRUE(object) << attachment->where().text().toStdString();
        if (method == pst::AttachMethod::EmbeddedMessage) {
            auto inner = attachment->embeddedMessage();
            ASSERT_TRUE(inner);
            expectMessage(*inner, file, *object, 24);
        }
    }
}

QString text(const pst::Message& message, std::uint16_t id)
{
    return pst::readString(message.properties(), id, message.codePage()).value_or(QString());
}

QString normalized(QString text)
{
    return text.replace(u"\r\n"_s, u"\n"_s).trimmed();
}

// The contents of the attachments by value, in order; attached messages
// give their subjects.
QStringList attachmentsOf(const pst::Message& message)
{
    QStringList out;
    const std::vector<pst::Nid> ids = message.attachmentIds().value();
    for (pst::Nid id : ids) {
        auto attachment = message.attachment(id, message.where());
        if (attachment->method() == pst::AttachMethod::EmbeddedMessage) {
            out << u"message "_s + attachment->embeddedMessage()->subject();
        } else if (attachment->method() == pst::AttachMethod::Storage) {
            out << QString(); // msgreader takes any object for a message
        } else {
            auto bytes = attachment->properties().bytes(pst::PropId::AttachDataBinary, kLimit);
            out << (bytes && *bytes ? sha256(bytesOf(**bytes)) : QString());
        }
    }
    return out;
}

void expectMsgconvert(const pst::Message& message, const QString& path, const QString& workDir)
{
    const PeerResult mime = msgconvert(path, workDir);
    if (!mime.missing.isEmpty()) {
        std::printf("skipped: %s is not installed\n", qPrintable(mime.missing));
        return;
    }
    ASSERT_TRUE(mime.failure.isEmpty()) << mime.failure.toStdString();
    EXPECT_EQ(mime.json[u"subject"_s].toString(), message.subject()) << path.toStdString();
    if (const QString sender = text(message, kSenderName); !sender.isEmpty()) {
        EXPECT_TRUE(mime.json[u"from"_s].toString().contains(sender)) << mime.json[u"from"_s].toString().toStdString();
    }
    if (const QString body = text(message, kBody); !body.isEmpty()) {
        const QJsonArray bodies = mime.json[u"bodies"_s].toArray();
        ASSERT_FALSE(bodies.isEmpty()) << path.toStdString();
        EXPECT_EQ(normalized(bodies[0][u"text"_s].toString()), normalized(body)) << path.toStdString();
    }
    // msgconvert lists the attachments of attached messages too.
    QSet<QString> converted;
    for (const auto& a : mime.json[u"attachments"_s].toArray())
        converted.insert(a[u"sha256"_s].toString());
    for (const QString& a : attachmentsOf(message))
        if (!a.startsWith(u"message "_s) && !a.isEmpty()) {
            EXPECT_TRUE(converted.contains(a)) << path.toStdString() << " lost an attachment";
        }
}

void expectMsgreader(const QJsonObject& read, const pst::Message& message, const QString& path)
{
    EXPECT_EQ(read[u"subject"_s].toString(), message.subject()) << path.toStdString();
    EXPECT_EQ(read[u"senderName"_s].toString(), text(message, kSenderName)) << path.toStdString();
    EXPECT_EQ(normalized(read[u"body"_s].toString()), normalized(text(message, kBody))) << path.toStdString();
    const QJsonArray attachments = read[u"attachments"_s].toArray();
    const QStringList expected = attachmentsOf(message);
    ASSERT_EQ(attachments.size(), expected.size()) << path.toStdString();
    for (qsizetype k = 0; k < expected.size(); ++k) {
        const QJsonObject a = attachments[k].toObject();
        if (expected[k].isEmpty())
            continue;
        if (a.contains(u"message"_s)) {
            EXPECT_EQ(u"message "_s + a[u"message"_s][u"subject"_s].toString(), expected[k]) << path.toStdString();
        } else {
            EXPECT_EQ(a[u"sha256"_s].toString(), expected[k]) << path.toStdString() << " attachment " << k;
        }
    }
}

} // namespace

std::map<QString, std::vector<std::uint8_t>> streamsOf(const CompoundFileReader& file)
{
    std::map<QString, std::vector<std::uint8_t>> streams;
    std::vector<std::pair<EntryId, QString>> pending{{0, QString()}};
    while (!pending.empty()) {
        const auto [storage, path] = pending.back();
        pending.pop_back();
        for (auto child : file.children(storage)) {
            const QString childPath = path.isEmpty() ? file.entry(child).name : path + u'/' + file.entry(child).name;
            if (file.entry(child).type == msg::cfb::ObjectType::Storage)
                pending.emplace_back(child, childPath);
            else
                streams[childPath] = file.readAll(child, 1ull << 32).value();
        }
    }
    return streams;
}

void expectPeersAgree(const QString& path, const std::map<QString, std::vector<std::uint8_t>>& streams)
{
    const PeerResult ole = olefileStreams(path);
    if (!ole.missing.isEmpty()) {
        std::printf("skipped: %s is not installed\n", qPrintable(ole.missing));
    } else {
        ASSERT_TRUE(ole.failure.isEmpty()) << ole.failure.toStdString();
        const QJsonArray listed = ole.json[u"streams"_s].toArray();
        EXPECT_EQ(listed.size(), qsizetype(streams.size())) << path.toStdString();
        for (const auto& s : listed) {
            const auto it = streams.find(s[u"path"_s].toString());
            ASSERT_NE(it, streams.end()) << s[u"path"_s].toString().toStdString();
            EXPECT_EQ(s[u"size"_s].toInteger(), qint64(it->second.size())) << it->first.toStdString();
            EXPECT_EQ(s[u"sha256"_s].toString(), sha256(bytesOf(it->second))) << it->first.toStdString();
        }
    }
    const PeerResult info = olecfinfo(path);
    if (!info.missing.isEmpty())
        std::printf("skipped: %s is not installed\n", qPrintable(info.missing));
    else
        EXPECT_TRUE(info.failure.isEmpty()) << info.failure.toStdString();
}

void checkSavedMessage(const pst::Message& message, const QString& path, const QString& workDir, Peers peers)
{
    const QByteArray bytes = readFile(path);
    ASSERT_FALSE(bytes.isEmpty()) << path.toStdString();
    pst::MemorySource source(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), path);
    auto file = CompoundFileReader::open(source);
    ASSERT_TRUE(file) << file.error().message().toStdString();
    EXPECT_EQ(compoundFileFaults(*file, std::uint64_t(bytes.size())).join(u"; "_s).toStdString(), "") << path.toStdString();
    EXPECT_EQ(msgFaults(*file).join(u"; "_s).toStdString(), "") << path.toStdString();
    expectMessage(message, *file, 0, 32);
    expectPeersAgree(path, streamsOf(*file));

    if (peers == Peers::All)
        expectMsgconvert(message, path, workDir);
    const PeerResult read = msgreader(path);
    if (!read.missing.isEmpty())
        std::printf("skipped: %s is not installed\n", qPrintable(read.missing));
    else if (read.failure.isEmpty())
        expectMsgreader(read.json[u"message"_s].toObject(), message, path);
    else
        ADD_FAILURE() << read.failure.toStdString();
}

} // namespace parcelon::test
