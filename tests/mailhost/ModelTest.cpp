// The object model: creation, stores, collections by position, item
// classes, and what SaveAsFile refuses.

#include "diagnostics/Failure.h"
#include "mailhost/model/ItemClass.h"
#include "mailhost/model/Registry.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parcelon;
using namespace parcelon::mailhost;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

std::shared_ptr<Namespace> newNamespace()
{
    return Registry::global().CreateObject(kApplicationProgId)->GetNamespace(u"MAPI"_s);
}

// The failure a call raises; fails the test when it raises none.
template <class F>
Failure failureOf(F&& f)
{
    try {
        f();
    } catch (const Failure& failure) {
        return failure;
    }
    ADD_FAILURE() << "no failure";
    return Failure(QString());
}

std::optional<QString> corpusFile(const QString& name)
{
    if (auto dir = corpusPstDir())
        return *dir + u'/' + name;
    return std::nullopt;
}

} // namespace

TEST(ItemClass, KnownBasesBySegmentUnknownAsMail)
{
    const std::pair<const char16_t*, int> cases[] = {
        {u"IPM.Note", 43},
        {u"ipm.note.SMIME.MultipartSigned", 43},
        {u"IPM.Appointment", 26},
        {u"IPM.Schedule.Meeting.Request", 53},
        {u"IPM.Schedule.Meeting.Resp.Tent", 57},
        {u"IPM.Contact.Custom", 40},
        {u"IPM.DistList", 69},
        {u"IPM.TaskRequest.Accept", 51},
        {u"IPM.TaskRequest", 49},
        {u"IPM.Task", 48},
        {u"IPM.StickyNote", 44},
        {u"IPM.Activity", 42},
        {u"REPORT.IPM.Note.NDR", 46},
        {u"IPM.Document.Word.Document.8", 41},
        {u"IPM.Post", 45},
        {u"IPM.Appointmentx", 43},
        {u"IPM.Foo", 43},
        {u"IPM", 43},
        {u"", 43},
    };
    for (const auto& [messageClass, expected] : cases)
        EXPECT_EQ(itemClassOf(QString::fromUtf16(messageClass)), expected) << QString::fromUtf16(messageClass).toStdString();
}

TEST(Registry, OnlyRegisteredObjectsCanBeCreated)
{
    Registry registry;
    EXPECT_EQ(failureOf([&] { registry.CreateObject(kApplicationProgId); }).number(), 429);
    registry.add(kApplicationProgId, [] { return std::make_shared<Application>(); });
    EXPECT_NE(registry.CreateObject(u"outlook.application"_s), nullptr);
    EXPECT_TRUE(failureOf([] { Registry::global().CreateObject(kApplicationProgId)->GetNamespace(u"FAX"_s); })
                    .description()
                    .contains(u"MAPI"_s));
}

TEST(AddStore, RefusesWhatIsNoPstFileWithItsOwnDescription)
{
    QTemporaryDir dir;
    auto mapi = newNamespace();
    const Failure missing = failureOf([&] { mapi->AddStore(dir.filePath(u"missing.pst"_s)); });
    EXPECT_EQ(missing.number(), FailureNumber::PathNotFound);
    EXPECT_TRUE(missing.description().contains(u"missing.pst"_s));

    EXPECT_TRUE(failureOf([&] { mapi->AddStore(dir.path()); }).description().contains(u"is a folder"_s));

    writeFile(dir.filePath(u"notes.pst"_s), QByteArray(4096, 'x'));
    EXPECT_TRUE(failureOf([&] { mapi->AddStore(dir.filePath(u"notes.pst"_s)); }).description().contains(u"is not a PST file"_s));

    writeFile(dir.filePath(u"tiny.pst"_s), QByteArray("!BDN"));
    EXPECT_TRUE(failureOf([&] { mapi->AddStore(dir.filePath(u"tiny.pst"_s)); }).description().contains(u"is not a PST file"_s));

    const auto real = corpusFile(u"pstsdk-sample1.pst"_s);
    if (!real)
        return;
    QByteArray bytes = readFile(*real);
    writeFile(dir.filePath(u"damaged.pst"_s), bytes.left(540)); // ends inside the header
    EXPECT_TRUE(
        failureOf([&] { mapi->AddStore(dir.filePath(u"damaged.pst"_s)); }).description().contains(u"header is damaged"_s));
    bytes = readFile(*real);
    bytes[10] = 99;
    writeFile(dir.filePath(u"future.pst"_s), bytes);
    EXPECT_TRUE(failureOf([&] { mapi->AddStore(dir.filePath(u"future.pst"_s)); })
                    .description()
                    .contains(u"version 99 is not supported"_s));
    EXPECT_EQ(mapi->Folders()->count(), 0);
}

TEST(Namespace, StoresComeAndGoInOrder)
{
    const auto first = corpusFile(u"pstsdk-sample1.pst"_s);
    const auto second = corpusFile(u"2003_no-encryption_quickquick.pst"_s);
    if (!first || !second)
        GTEST_SKIP() << "the PST corpus is not present";
    auto mapi = newNamespace();
    EXPECT_EQ(mapi->Folders()->GetLast(), nullptr);
    mapi->AddStore(*first);
    mapi->AddStore(*second);
    auto folders = mapi->Folders();
    ASSERT_EQ(folders->count(), 2);
    auto last = folders->GetLast();
    EXPECT_EQ(last->Name(), folders->Item(2)->Name());
    EXPECT_NE(folders->Item(1)->Name(), last->Name());

    auto items = last->Folders()->Item(1)->Items();
    mapi->RemoveStore(last);
    EXPECT_EQ(mapi->Folders()->count(), 1);
    EXPECT_TRUE(failureOf([&] { items->count(); }).description().contains(u"no longer open"_s));
    EXPECT_TRUE(failureOf([&] { last->Folders(); }).description().contains(u"no longer open"_s));
    failureOf([&] { mapi->RemoveStore(last); });
    EXPECT_EQ(mapi->Folders()->GetLast()->Folders()->count(), folders->Item(1)->Folders()->count());
}

TEST(Collections, AnswerByPositionFromOne)
{
    const auto file = corpusFile(u"2003_no-encryption_quickquick.pst"_s);
    if (!file)
        GTEST_SKIP() << "the PST corpus is not present";
    auto mapi = newNamespace();
    mapi->AddStore(*file);
    auto root = mapi->Folders()->GetLast();
    auto subfolders = root->Folders();
    ASSERT_GT(subfolders->count(), 0);
    EXPECT_EQ(failureOf([&] { subfolders->Item(0); }).number(), 9);
    EXPECT_EQ(failureOf([&] { subfolders->Item(subfolders->count() + 1); }).number(), 9);
    for (std::int64_t i = 1; i <= subfolders->count(); ++i) {
        auto items = subfolders->Item(i)->Items();
        for (std::int64_t j = 1; j <= items->count(); ++j) {
            // The same position gives the same object, read once.
            EXPECT_EQ(items->Item(j), items->Item(j));
            EXPECT_EQ(items->Item(j)->Attachments(), items->Item(j)->Attachments());
        }
        EXPECT_EQ(subfolders->Item(i), subfolders->Item(i));
    }
}

TEST(SaveAsFile, NeverReplacesAFileAndLeavesNothingOnFailure)
{
    const auto file = corpusFile(u"pstsdk-sample1.pst"_s);
    if (!file)
        GTEST_SKIP() << "the PST corpus is not present";
    auto mapi = newNamespace();
    mapi->AddStore(*file);
    std::shared_ptr<Attachment> attachment;
    auto folders = mapi->Folders()->GetLast()->Folders();
    for (std::int64_t i = 1; i <= folders->count() && !attachment; ++i) {
        auto items = folders->Item(i)->Items();
        for (std::int64_t j = 1; j <= items->count() && !attachment; ++j)
            if (items->Item(j)->Attachments()->count() > 0)
                attachment = items->Item(j)->Attachments()->Item(1);
    }
    ASSERT_NE(attachment, nullptr);

    QTemporaryDir dir;
    const QString target = dir.filePath(attachment->fileName());
    writeFile(target, QByteArray("keep me"));
    const Failure exists = failureOf([&] { attachment->SaveAsFile(target); });
    EXPECT_TRUE(exists.description().contains(target));
    EXPECT_EQ(readFile(target), QByteArray("keep me"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    const Failure noFolder = failureOf([&] { attachment->SaveAsFile(dir.filePath(u"none/x.bin"_s)); });
    EXPECT_EQ(noFolder.number(), FailureNumber::PathNotFound);

    const QString fresh = dir.filePath(u"fresh.bin"_s);
    attachment->SaveAsFile(fresh);
    EXPECT_GT(QFile(fresh).size(), 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}
