// Saves killed at every step, on the file systems users save to, leave no
// file under an attachment's name that lacks any of its bytes, and the next
// save into the folder removes what they left behind. A save fails when the
// PST file changes while it is read.

#include "LoopMount.h"
#include "Mailboxes.h"
#include "diagnostics/Failure.h"
#include "mailhost/model/NewFile.h"
#include "mailhost/model/Registry.h"
#include "pstgen/PstWriter.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace parcelon;
using namespace parcelon::mailhost;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

// Bytes that differ from block to block, so a mix of blocks shows.
QByteArray patterned(int size)
{
    QByteArray bytes(size, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return bytes;
}

// A PST file of known attachments: one written in several pieces, one small.
struct Mailbox {
    QString pst;
    std::map<QString, QByteArray> attachments;
};

Mailbox makeMailbox(const QString& folder)
{
    using namespace pstgen::fixtures;
    Mailbox mailbox{folder + u"/mail.pst"_s, {{u"report 1332.pdf"_s, patterned(20000)}, {u"b.txt"_s, "hello"}}};
    std::vector<pstgen::Attachment> attachments;
    for (const auto& [name, bytes] : mailbox.attachments)
        attachments.push_back(text(name, bytes));
    pstgen::Description d;
    d.root.folders = {pstgen::fixtures::folder(u"Inbox"_s, {message(u"Report"_s, std::move(attachments))})};
    EXPECT_TRUE(pstgen::PstWriter::write(d, mailbox.pst).ok());
    return mailbox;
}

bool isTemporaryName(const QString& name)
{
    static const QRegularExpression pattern(u"^\\.parcelon-[A-Za-z0-9]{6}$"_s);
    return pattern.match(name).hasMatch();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The names in a folder, for comparing.
std::string listing(const QString& folder)
{
    return entries(folder).join(u" | "_s).toStdString();
}

void setAge(const QString& path, int seconds)
{
    const timespec then{::time(nullptr) - seconds, 0};
    const timespec times[2] = {then, then};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.toUtf8().constData(), times, 0), 0) << path.toStdString();
}

// Makes the temporary files in `folder` two minutes old; their names.
QStringList ageTemporaryFiles(const QString& folder)
{
    QStringList names;
    for (const QString& name : entries(folder))
        if (isTemporaryName(name)) {
            setAge(folder + u'/' + name, 120);
            names << name;
        }
    return names;
}

struct ChildRun {
    bool killed = false;
    int exitCode = -1;
    long steps = 0;
    QString step; // where it was killed
    QString errors;
};

ChildRun saveAll(const Mailbox& mailbox, const QString& folder, long killAt = 0)
{
    QProcess child;
    child.start(QStringLiteral(PARCELON_SAVE_CHILD), {mailbox.pst, folder, QString::number(killAt)});
    ChildRun run;
    if (!child.waitForFinished(60000)) {
        ADD_FAILURE() << "the saves did not finish";
        child.kill();
        child.waitForFinished();
        return run;
    }
    run.killed = child.exitStatus() == QProcess::CrashExit;
    run.exitCode = child.exitCode();
    run.steps = child.readAllStandardOutput().trimmed().toLong();
    run.errors = QString::fromUtf8(child.readAllStandardError());
    run.step = run.errors;
    return run;
}

// Every file under an attachment's name holds the attachment's bytes;
// anything else is a temporary file. Removes the attachments' files.
void checkAndClear(const Mailbox& mailbox, const QString& folder, const QString& when)
{
    for (const QString& name : entries(folder)) {
        const auto attachment = mailbox.attachments.find(name);
        if (attachment == mailbox.attachments.end()) {
            EXPECT_TRUE(isTemporaryName(name)) << "a file " << name.toStdString() << " " << when.toStdString();
            continue;
        }
        const QByteArray bytes = readFile(folder + u'/' + name);
        EXPECT_TRUE(bytes == attachment->second) << name.toStdString() << " holds " << bytes.size() << " bytes, not its "
                                                 << attachment->second.size() << ", " << when.toStdString();
        EXPECT_TRUE(QFile::remove(folder + u'/' + name));
    }
}

enum class Disk { Here, Ext4, Tmpfs, ExFat, Ntfs };

class KilledSaves : public ::testing::TestWithParam<Disk> {};

TEST_P(KilledSaves, LeaveNoPartialFileAndNothingAfterTheNextSave)
{
#ifdef PARCELON_SANITIZED
    GTEST_SKIP() << "the kill sweep runs in the normal build";
#endif
    QTemporaryDir work;
    std::unique_ptr<LoopMount> mount;
    QString root = work.path();
    if (GetParam() != Disk::Here) {
        QString why;
        mount = LoopMount::make(static_cast<LoopMount::Kind>(static_cast<int>(GetParam()) - 1), why);
        if (!mount)
            GTEST_SKIP() << why.toStdString();
        root = mount->path();
    }
    const Mailbox mailbox = makeMailbox(work.path());
    const QString out = root + u"/out"_s;
    ASSERT_TRUE(QDir().mkpath(out));

    const ChildRun whole = saveAll(mailbox, out);
    ASSERT_EQ(whole.exitCode, 0) << whole.errors.toStdString();
    ASSERT_GT(whole.steps, 2 * 3);
    EXPECT_EQ(entries(out).size(), static_cast<qsizetype>(mailbox.attachments.size())) << listing(out);
    checkAndClear(mailbox, out, u"after a whole run"_s);

    for (long n = 1; n <= whole.steps; ++n) {
        const QStringList left = ageTemporaryFiles(out);
        const ChildRun run = saveAll(mailbox, out, n);
        ASSERT_TRUE(run.killed) << "step " << n << " was not reached: " << run.errors.toStdString();
        const QString when = u"after a kill at step %1 (%2)"_s.arg(n).arg(run.step);
        for (const QString& name : left)
            EXPECT_FALSE(QFile::exists(out + u'/' + name))
                << name.toStdString() << " outlived the next save, " << when.toStdString();
        checkAndClear(mailbox, out, when);
    }

    ageTemporaryFiles(out);
    const ChildRun last = saveAll(mailbox, out);
    EXPECT_EQ(last.exitCode, 0) << last.errors.toStdString();
    QStringList expected;
    for (const auto& entry : mailbox.attachments)
        expected << entry.first;
    EXPECT_EQ(listing(out), expected.join(u" | "_s).toStdString());
    checkAndClear(mailbox, out, u"after the last run"_s);
}

std::string diskName(const ::testing::TestParamInfo<Disk>& info)
{
    static const char* const names[] = {"TemporaryFolder", "Ext4", "Tmpfs", "ExFat", "Ntfs"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Disks, KilledSaves, ::testing::Values(Disk::Here, Disk::Ext4, Disk::Tmpfs, Disk::ExFat, Disk::Ntfs),
                         diskName);

// On a disk without unnamed files, hard links or exclusive renames, a save
// removes only the temporary files of its own folder that no process holds
// and that are over a minute old, and still replaces nothing, whatever the
// case of the name.
TEST(LeftTemporaryFiles, OnlyUnheldOldOnesOfTheFolderSavedIntoAreRemoved)
{
    QTemporaryDir work;
    QString why;
    const auto mount = LoopMount::make(LoopMount::Kind::ExFat, why);
    if (!mount)
        GTEST_SKIP() << why.toStdString();
    const Mailbox mailbox = makeMailbox(work.path());
    const QString out = mount->path() + u"/out"_s;
    const QString other = mount->path() + u"/other"_s;
    for (const QString& path : {out + u"/.parcelon-Old123"_s, out + u"/.parcelon-Held12"_s, out + u"/.parcelon-notes.txt"_s,
                                other + u"/.parcelon-Old456"_s}) {
        writeFile(path, "left");
        setAge(path, 120);
    }
    writeFile(out + u"/.parcelon-New123"_s, "left");
    writeFile(out + u"/B.TXT"_s, "keep me");
    const int held = ::open((out + u"/.parcelon-Held12"_s).toUtf8().constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    const ChildRun run = saveAll(mailbox, out);
    ::close(held);
    EXPECT_EQ(run.exitCode, 1) << "b.txt is taken by B.TXT";
    EXPECT_TRUE(run.errors.contains(u"b.txt"_s)) << run.errors.toStdString();
    EXPECT_EQ(listing(out), ".parcelon-Held12 | .parcelon-New123 | .parcelon-notes.txt | B.TXT | report 1332.pdf");
    EXPECT_EQ(readFile(out + u"/B.TXT"_s), QByteArray("keep me"));
    EXPECT_EQ(readFile(out + u"/report 1332.pdf"_s), mailbox.attachments.at(u"report 1332.pdf"_s));
    EXPECT_EQ(listing(other), ".parcelon-Old456");
}

QString changedPst;

// The attachments of the first message in the last store's "Inbox".
std::shared_ptr<AttachmentCollection> inboxAttachments(Namespace& mapi)
{
    auto folders = mapi.Folders()->GetLast()->Folders();
    for (std::int64_t i = 1; i <= folders->count(); ++i)
        if (folders->Item(i)->Name() == u"Inbox"_s)
            return folders->Item(i)->Items()->Item(1)->Attachments();
    ADD_FAILURE() << "no Inbox";
    return nullptr;
}

void growPst(const char* step)
{
    if (std::strcmp(step, "wrote") != 0)
        return;
    QFile file(changedPst);
    if (file.open(QIODevice::Append))
        file.write("x");
}

// A save whose PST file changes size, or only its time, before the save
// ends fails with that reason and leaves no file.
TEST(SaveAsFile, FailsWhenThePstFileChangesWhileItIsRead)
{
    QTemporaryDir work;
    const Mailbox mailbox = makeMailbox(work.path());
    auto mapi = Registry::global().CreateObject(kApplicationProgId)->GetNamespace(u"MAPI"_s);
    mapi->AddStore(mailbox.pst);
    auto attachments = inboxAttachments(*mapi);
    ASSERT_EQ(attachments->count(), 2);
    const QString out = work.filePath(u"out"_s);
    ASSERT_TRUE(QDir().mkpath(out));
    attachments->Item(1)->SaveAsFile(out + u"/unchanged"_s);

    const auto failure = [&](const QString& target) {
        try {
            attachments->Item(2)->SaveAsFile(target);
        } catch (const Failure& f) {
            return f.description();
        }
        return QString();
    };
    changedPst = mailbox.pst;
    NewFile::setStepHook(growPst);
    const QString grown = failure(out + u"/grown"_s);
    NewFile::setStepHook(nullptr);
    EXPECT_TRUE(grown.contains(u"%1 changed while it was read"_s.arg(mailbox.pst))) << grown.toStdString();

    QTemporaryDir second;
    const Mailbox same = makeMailbox(second.path());
    mapi->AddStore(same.pst);
    attachments = inboxAttachments(*mapi);
    setAge(same.pst, 3600);
    const QString touched = failure(out + u"/touched"_s);
    EXPECT_TRUE(touched.contains(u"changed while it was read"_s)) << touched.toStdString();

    EXPECT_EQ(listing(out), "unchanged");
}

} // namespace
