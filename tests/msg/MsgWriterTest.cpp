// Attached messages saved as .msg files, from the real corpus and from
// generated PST files, checked strictly, against the engine and by peers.

#include "EngineWalk.h"
#include "MsgCheck.h"
#include "StrictCheck.h"

#include "mailhost/model/AttachmentSaver.h"
#include "mailhost/msg/CompoundFileWriter.h"
#include "mailhost/msg/MsgWriter.h"
#include "mailhost/pst/messaging/PropertyIds.h"
#include "pstgen/PstWriter.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

// Saves every attached message of `pstPath` into `dir` and checks each;
// returns how many were saved and how many held attached messages themselves.
std::pair<int, int> saveAndCheckAll(const QString& pstPath, const QTemporaryDir& dir, Peers peers = Peers::All)
{
    auto store = pst::Store::open(pstPath);
    EXPECT_TRUE(store) << pstPath.toStdString();
    if (!store)
        return {};
    int saved = 0, nested = 0;
    forEachAttachment(**store, [&](const pst::Message&, const pst::Attachment& attachment) {
        if (attachment.method() != pst::AttachMethod::EmbeddedMessage)
            return;
        const QString name = mailhost::attachmentFileName(attachment);
        const QString path = dir.filePath(u"%1-%2"_s.arg(++saved).arg(name.left(40).replace(u'/', u'_')));
        auto result = mailhost::saveAttachment(attachment, name, path);
        ASSERT_TRUE(result) << result.error().message().toStdString();
        auto message = attachment.embeddedMessage();
        ASSERT_TRUE(message);
        const std::vector<pst::Nid> ids = message->attachmentIds().value();
        for (pst::Nid id : ids)
            if (message->attachment(id, message->where())->method() == pst::AttachMethod::EmbeddedMessage) {
                ++nested;
                break;
            }
        checkSavedMessage(*message, path, dir.path(), peers);
    });
    return {saved, nested};
}

std::optional<pst::Attachment> firstAttachedMessage(const pst::Store& store)
{
    std::optional<pst::Attachment> found;
    forEachAttachment(store, [&](const pst::Message&, const pst::Attachment& attachment) {
        if (!found && attachment.method() == pst::AttachMethod::EmbeddedMessage)
            found = attachment;
    });
    return found;
}

QStringList folderEntries(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

TEST(MsgWriter, SavesTheCorpusAttachedMessages)
{
    const auto corpus = corpusPstDir();
    if (!corpus)
        GTEST_SKIP() << "no PST corpus";
    // Every file of the corpus that holds attached messages: nested ones,
    // Unicode and 8-bit subjects, attachments inside attached messages.
    int saved = 0, nested = 0;
    for (const QString& name : {u"msgInMsg.pst"_s, u"msgInMsgInMsg.pst"_s, u"pstsdk-submessage.pst"_s, u"Test_part1.pst"_s,
                                u"alpha-beta-gamma-delta.pst"_s, u"aspose-Outlook.pst"_s, u"aspose-test.pst"_s,
                                u"four_nesting_levels.pst"_s, u"java-libpst-dist-list.pst"_s, u"passwordprotectedPST.pst"_s,
                                u"tika-testPST.pst"_s, u"user1@test.lab.pst"_s, u"SampleOstFile.ost"_s}) {
        SCOPED_TRACE(name.toStdString());
        QTemporaryDir dir;
        const auto [files, inner] = saveAndCheckAll(*corpus + u'/' + name, dir);
        EXPECT_GT(files, 0);
        saved += files;
        nested += inner;
    }
    std::printf("%d attached messages saved, %d of them with attached messages inside\n", saved, nested);
    EXPECT_GT(nested, 0);
}

TEST(MsgWriter, SavesNeverOverAFileNorLeaveAPartialOne)
{
    const auto corpus = corpusPstDir();
    if (!corpus)
        GTEST_SKIP() << "no PST corpus";
    auto store = pst::Store::open(*corpus + u"/msgInMsg.pst"_s);
    ASSERT_TRUE(store);
    const auto attachment = firstAttachedMessage(**store);
    ASSERT_TRUE(attachment);
    const QString name = mailhost::attachmentFileName(*attachment);

    QTemporaryDir dir;
    const QString taken = dir.filePath(name);
    writeFile(taken, "keep");
    auto over = mailhost::saveAttachment(*attachment, name, taken);
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error().kind(), pst::ErrorKind::Exists);
    EXPECT_TRUE(over.error().message().contains(name)) << over.error().message().toStdString();
    EXPECT_EQ(readFile(taken), QByteArray("keep"));
    ASSERT_TRUE(QFile::remove(taken));

    // A disk that fills up in the middle of the file.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 8192;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto full = mailhost::saveAttachment(*attachment, name, dir.filePath(name));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_FALSE(full);
    EXPECT_EQ(full.error().kind(), pst::ErrorKind::Io);
    EXPECT_TRUE(full.error().message().startsWith(u"Cannot save the attachment \"%1\""_s.arg(name)))
        << full.error().message().toStdString();
    EXPECT_EQ(folderEntries(dir), QStringList());
}

namespace {

// An OLE object as Outlook stores pictures, with a storage inside if asked.
QByteArray oleObject(bool withStorage)
{
    std::vector<std::uint8_t> bytes;
    msg::CompoundFileWriter writer({[&](pst::Bytes b) -> pst::Result<void> {
                                        bytes.insert(bytes.end(), b.begin(), b.end());
                                        return {};
                                    },
                                    [&](std::uint64_t at, pst::Bytes b) -> pst::Result<void> {
                                        std::copy(b.begin(), b.end(), bytes.begin() + std::ptrdiff_t(at));
                                        return {};
                                    }});
    writer.setClsid(msg::CompoundFileWriter::kRoot, {0x16, 0x03, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46});
    const QByteArray contents(6000, 'c');
    EXPECT_TRUE(writer.addStream(0, u"\u0001Ole"_s, pst::Bytes(reinterpret_cast<const std::uint8_t*>("\x01\x00\x00\x02"), 4)));
    EXPECT_TRUE(writer.addStream(0, u"CONTENTS"_s, pst::Bytes(reinterpret_cast<const std::uint8_t*>(contents.data()), 6000)));
    if (withStorage) {
        auto inner = writer.addStorage(0, u"ObjectPool"_s);
        EXPECT_TRUE(inner && writer.addStream(*inner, u"data"_s, pst::Bytes(reinterpret_cast<const std::uint8_t*>("xyz"), 3)));
    }
    EXPECT_TRUE(writer.finish());
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// A folder message with one attached message: `depth` messages nested in
// one another, the first one carrying recipients, a large attachment and an
// OLE object.
pstgen::Description nested(int depth, std::uint64_t bigSize, bool oleStorage)
{
    std::shared_ptr<pstgen::Item> inner;
    for (int level = depth; level >= 1; --level) {
        auto item = std::make_shared<pstgen::Item>();
        item->subject = u"Weitergeleitet %1: Grüße aus 東京"_s.arg(level);
        item->senderName = u"Zoë Sender"_s;
        item->senderEmail = u"zoe@example.org"_s;
        item->body = u"Body of level %1\r\nsecond line"_s.arg(level);
        item->recipients = {{u"Ann To"_s, u"ann@example.org"_s, pstgen::Recipient::Type::To},
                            {u"Ben Cc"_s, u"ben@example.org"_s, pstgen::Recipient::Type::Cc}};
        if (level == 1) {
            pstgen::Attachment big;
            big.fileName = u"big.bin"_s;
            big.content = pstgen::Content::random(level, pstgen::Range::fixed(bigSize));
            pstgen::Attachment ole;
            ole.method = pstgen::Attachment::Ole;
            ole.displayName = u"Picture (Device Independent Bitmap)"_s;
            ole.content = pstgen::Content::fromBytes(oleObject(oleStorage));
            item->attachments = {big, ole};
        }
        pstgen::Attachment note;
        note.fileName = u"note %1.txt"_s.arg(level);
        note.content = pstgen::Content::fromBytes("a note of level " + QByteArray::number(level));
        item->attachments.push_back(note);
        if (inner) {
            pstgen::Attachment attached;
            attached.method = pstgen::Attachment::EmbeddedMessage;
            attached.embedded = inner;
            item->attachments.push_back(attached);
        }
        inner = item;
    }
    pstgen::Item outer;
    outer.subject = u"Outer message"_s;
    pstgen::Attachment attached;
    attached.method = pstgen::Attachment::EmbeddedMessage;
    attached.embedded = inner;
    outer.attachments = {attached};
    pstgen::Folder inbox;
    inbox.name = u"Inbox"_s;
    inbox.items = {outer};
    pstgen::Description d;
    d.root.folders = {inbox};
    return d;
}

} // namespace

TEST(MsgWriter, SavesGeneratedAttachedMessages)
{
    // 8 MB inside the attached message: the .msg needs DIFAT sectors.
    QTemporaryDir dir;
    const QString pst = dir.filePath(u"nested.pst"_s);
    auto written = pstgen::PstWriter::write(nested(3, 8 * 1024 * 1024, true), pst);
    ASSERT_TRUE(written) << written.error().message().toStdString();
    QTemporaryDir out;
    // msgconvert takes every attached object for a message and fails on
    // one with storages inside; the other readers are asked.
    const auto [files, inner] = saveAndCheckAll(pst, out, Peers::AllButMsgconvert);
    EXPECT_EQ(files, 1);
    EXPECT_EQ(inner, 1);

    // The OLE object is the same storage inside the .msg.
    const QString saved = out.filePath(QDir(out.path()).entryList({u"*.msg"_s}).value(0));
    const QByteArray bytes = readFile(saved);
    pst::MemorySource source(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), saved);
    auto file = msg::CompoundFileReader::open(source);
    ASSERT_TRUE(file);
    EXPECT_GT(file->header().difatSectors, 0u);
    const auto attachment = file->find(0, u"__attach_version1.0_#00000001"_s);
    ASSERT_TRUE(attachment);
    const auto object = file->find(*attachment, u"__substg1.0_3701000D"_s);
    ASSERT_TRUE(object);
    const QByteArray original = oleObject(true);
    pst::MemorySource oleSource(std::vector<std::uint8_t>(original.begin(), original.end()), u"ole"_s);
    auto ole = msg::CompoundFileReader::open(oleSource);
    ASSERT_TRUE(ole);
    EXPECT_EQ(file->entry(*object).clsid, ole->entry(0).clsid);
    EXPECT_EQ(streamBytes(*file, *object, u"CONTENTS"_s), QByteArray(6000, 'c'));
    EXPECT_EQ(streamBytes(*file, *file->find(*object, u"ObjectPool"_s), u"data"_s), QByteArray("xyz"));
}

TEST(MsgWriter, RefusesMessagesNestedBeyondItsLimit)
{
    QTemporaryDir dir;
    const QString pst = dir.filePath(u"deep.pst"_s);
    ASSERT_TRUE(pstgen::PstWriter::write(nested(msg::MsgWriter::kMaxDepth + 2, 10, false), pst));
    auto store = pst::Store::open(pst);
    ASSERT_TRUE(store);
    const auto attachment = firstAttachedMessage(**store);
    ASSERT_TRUE(attachment);
    QTemporaryDir out;
    auto saved = mailhost::saveAttachment(*attachment, u"deep.msg"_s, out.filePath(u"deep.msg"_s));
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().kind(), pst::ErrorKind::Corrupt);
    EXPECT_TRUE(saved.error().message().contains(u"nested more than 32 deep"_s)) << saved.error().message().toStdString();
    EXPECT_EQ(folderEntries(out), QStringList());

    // One level less is saved.
    ASSERT_TRUE(pstgen::PstWriter::write(nested(msg::MsgWriter::kMaxDepth, 10, false), dir.filePath(u"deepest.pst"_s)));
    QTemporaryDir kept;
    const auto [files, inner] = saveAndCheckAll(dir.filePath(u"deepest.pst"_s), kept);
    EXPECT_EQ(files, 1);
}
