// Hostile files: small files whose structures lead to the same objects again
// and again, or nest very deep. Each is made from a generated file with the
// structure editor and read by pstdump in a process of its own, which must
// finish within a limit of processor time and of resident memory.

#include "Mailboxes.h"
#include "mailhost/msg/MsgWriter.h"
#include "mailhost/pst/messaging/Folder.h"
#include "mailhost/pst/messaging/Message.h"
#include "pstgen/PstWriter.h"
#include "testsupport/PstSurgery.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace parcelon;
using namespace parcelon::test;
using namespace parcelon::pstgen::fixtures;
using namespace Qt::StringLiterals;

namespace {

// The limits on processor time and resident memory; a process still running
// after several times its time (a busy machine) is killed.
#ifdef PARCELON_SANITIZED
constexpr double kSeconds = 120;
constexpr long kMaxResidentKiB = 1024 * 1024;
#else
constexpr double kSeconds = 10;
constexpr long kMaxResidentKiB = 64 * 1024;
#endif
constexpr double kWallFactor = 6;

// The most resident memory the process has had since it started its program.
long peakResidentKiB(pid_t pid)
{
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

struct Dump {
    bool finished = false; // exited by itself, within the limits
    double seconds = 0;    // processor time, user and system
    long peakKiB = 0;
    std::vector<QJsonObject> attachments; // pstdump's lines for attachments
    int files = 0;                        // files left in the output folder
};

// Runs `pstdump --extract` on `pst`, killed past the time or memory limit.
Dump dump(const QString& pst, const QString& outputDir)
{
    Dump result;
    const QString log = outputDir + u"/../dump.jsonl"_s;
    const QByteArray program = (runtimeDir() + u"/pstdump"_s).toLocal8Bit();
    const QByteArray file = pst.toLocal8Bit(), out = outputDir.toLocal8Bit(), logPath = log.toLocal8Bit();
    // The child's memory counts from its exec, which closes this pipe: the
    // forked copy of this process is not pstdump's.
    int started[2];
    EXPECT_EQ(pipe2(started, O_CLOEXEC), 0);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        const char* argv[] = {program.constData(), file.constData(), "--extract", out.constData(), "--no-hash", nullptr};
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    close(started[1]);
    char byte = 0;
    while (read(started[0], &byte, 1) < 0 && errno == EINTR) {}
    close(started[0]);
    int status = 0;
    rusage usage{};
    bool killed = false;
    for (;;) {
        result.peakKiB = std::max(result.peakKiB, peakResidentKiB(pid));
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!killed && (wall > kSeconds * kWallFactor || result.peakKiB > kMaxResidentKiB)) {
            kill(pid, SIGKILL);
            killed = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    result.seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.finished = !killed && WIFEXITED(status) && WEXITSTATUS(status) == 0 && result.seconds <= kSeconds
        && result.peakKiB <= kMaxResidentKiB;
    QFile lines(log);
    if (lines.open(QIODevice::ReadOnly))
        for (const QByteArray& line : lines.readAll().split('\n'))
            if (const QJsonObject o = QJsonDocument::fromJson(line).object(); o.value(u"type"_s) == u"attachment"_s)
                result.attachments.push_back(o);
    result.files = static_cast<int>(QDir(outputDir).entryList(QDir::Files).size());
    std::printf("%s: %.2f s of processor time, %ld KiB resident at most (as last seen), %zu attachments, %d files%s\n",
                qPrintable(QFileInfo(pst).fileName()), result.seconds, result.peakKiB, result.attachments.size(), result.files,
                killed ? " (killed)" : "");
    return result;
}

QByteArray u32(std::uint32_t value)
{
    QByteArray bytes(4, 0);
    qToLittleEndian(value, bytes.data());
    return bytes;
}

class Hostile : public ::testing::Test {
protected:
    // Hostile files are written where PARCELON_HOSTILE_DIR says, to be
    // measured by hand, else into a temporary folder.
    QString path(const QString& name) const
    {
        const QString kept = qEnvironmentVariable("PARCELON_HOSTILE_DIR");
        const QString file = (kept.isEmpty() ? m_dir.path() : kept) + u'/' + name;
        QFile::remove(file);
        return file;
    }

    QString generate(const pstgen::Description& d, const QString& name) const
    {
        const QString file = path(u"generated-"_s + name);
        EXPECT_TRUE(pstgen::PstWriter::write(d, file).ok());
        return file;
    }

    Dump run(const QString& pst)
    {
        const QString out = m_dir.filePath(u"out-"_s + QFileInfo(pst).baseName());
        EXPECT_TRUE(QDir().mkpath(out));
        Dump d = dump(pst, out);
        EXPECT_TRUE(d.finished) << qPrintable(pst) << " took " << d.seconds << " s and " << d.peakKiB << " KiB";
        return d;
    }

    static pstgen::Description description(std::vector<pstgen::Folder> folders)
    {
        pstgen::Description d;
        d.encoding = pst::Encoding::None;
        d.root.folders = std::move(folders);
        return d;
    }

    QTemporaryDir m_dir;
};

// The subfolder of `parent` named `name`, read from the file as written.
pst::Nid childNamed(const pst::Store& store, pst::Nid parent, const QString& name)
{
    auto subfolders = pst::Folder::open(store, parent, pst::Where())->subfolders();
    for (pst::Nid nid : subfolders ? *subfolders : std::vector<pst::Nid>())
        if (pst::Folder::open(store, nid, pst::Where())->displayName() == name)
            return nid;
    ADD_FAILURE() << "no folder " << qPrintable(name);
    return 0;
}

pst::Nid tableOf(pst::Nid folder, pst::Nid type)
{
    return (folder & ~pst::Nid(0x1F)) | type;
}

// A top folder of a file as written: its node and its messages.
struct TopFolder {
    pst::Nid nid = 0;
    std::vector<pst::Nid> messages;
};

TopFolder topFolder(const QString& file, const QString& name)
{
    auto store = pst::Store::open(file);
    EXPECT_TRUE(store.ok());
    if (!store)
        return {};
    TopFolder top{childNamed(**store, (*store)->ipmSubtree(), name), {}};
    auto messages = pst::Folder::open(**store, top.nid, pst::Where())->messages();
    EXPECT_TRUE(messages.ok());
    if (messages)
        top.messages = *messages;
    return top;
}

// The attachments among the subnodes in block `bid`.
std::vector<PstSurgery::Subnode> attachmentsIn(const PstSurgery& surgery, std::uint64_t bid)
{
    std::vector<PstSurgery::Subnode> found;
    for (const auto& s : surgery.subnodes(bid))
        if ((s.nid & 0x1F) == 0x05)
            found.push_back(s);
    return found;
}

pstgen::Folder deepTree(int levels)
{
    pstgen::Folder f = folder(u"Level %1"_s.arg(levels), {message(u"At the bottom"_s, {text(u"deep.txt"_s, "found")})});
    for (int level = levels - 1; level >= 1; --level)
        f = folder(u"Level %1"_s.arg(level), {}, {std::move(f)});
    return f;
}

} // namespace

// Each level's message has two attachments that both lead to the next
// level's attached message: 2^k attached messages within one .msg.
TEST_F(Hostile, AttachedMessagesSharedAtEveryLevelStopAtTheBudget)
{
    constexpr int kLevels = 20;
    pstgen::Item item = message(u"Level %1"_s.arg(kLevels), {text(u"bottom.txt"_s, "bottom")});
    for (int level = kLevels - 1; level >= 0; --level)
        item = message(u"Level %1"_s.arg(level), {embedded(std::move(item)), embedded(message(u"Spare"_s, {}))});
    const QString generated = generate(description({folder(u"Inbox"_s, {std::move(item)})}), u"shared-messages.pst"_s);

    PstSurgery surgery(readFile(generated));
    const TopFolder inbox = topFolder(generated, u"Inbox"_s);
    ASSERT_EQ(inbox.messages.size(), 1u);
    std::uint64_t subnodes = surgery.node(inbox.messages.front()).bidSub;
    for (int level = 0; level < kLevels; ++level) {
        const auto attachments = attachmentsIn(surgery, subnodes);
        ASSERT_EQ(attachments.size(), 2u) << "level " << level;
        surgery.setSubnode(subnodes, attachments[1].nid, attachments[0].bidData, attachments[0].bidSub);
        const auto inner = surgery.subnodes(attachments[0].bidSub);
        ASSERT_EQ(inner.size(), 1u);
        subnodes = inner[0].bidSub;
    }
    const Dump d = run(surgery.save(path(u"shared-messages.pst"_s)));
    ASSERT_EQ(d.attachments.size(), 2u);
    for (const QJsonObject& a : d.attachments)
        EXPECT_TRUE(a.value(u"error"_s).toString().contains(u"the message would be saved with more than"_s))
            << qPrintable(a.value(u"error"_s).toString());
    EXPECT_EQ(d.files, 0);
}

// An attached message whose 300 attachments all refer to the bytes of one
// 1 MB attachment.
TEST_F(Hostile, AValueReferredToAgainAndAgainStopsAtTheBudget)
{
    std::vector<pstgen::Attachment> attachments{random(u"big.bin"_s, 1000000)};
    for (int i = 2; i <= 300; ++i)
        attachments.push_back(random(u"small%1.bin"_s.arg(i), 5000, i));
    const QString generated =
        generate(description(
                     {folder(u"Inbox"_s, {message(u"Outer"_s, {embedded(message(u"Inner"_s, std::move(attachments)))})})}),
                 u"shared-value.pst"_s);

    PstSurgery surgery(readFile(generated));
    const TopFolder inbox = topFolder(generated, u"Inbox"_s);
    ASSERT_EQ(inbox.messages.size(), 1u);
    const auto outer = attachmentsIn(surgery, surgery.node(inbox.messages.front()).bidSub);
    ASSERT_EQ(outer.size(), 1u);
    const auto inner = attachmentsIn(surgery, surgery.subnodes(outer[0].bidSub).at(0).bidSub);
    ASSERT_EQ(inner.size(), 300u);
    std::uint64_t big = 0;
    for (const auto& a : inner)
        for (const auto& value : surgery.subnodes(a.bidSub))
            if (value.bidData & 2) // the one stored in more than one block
                big = value.bidData;
    ASSERT_NE(big, 0u);
    for (const auto& a : inner)
        for (const auto& value : surgery.subnodes(a.bidSub))
            surgery.setSubnode(a.bidSub, value.nid, big, value.bidSub);
    const Dump d = run(surgery.save(path(u"shared-value.pst"_s)));
    ASSERT_EQ(d.attachments.size(), 1u);
    EXPECT_TRUE(d.attachments[0].value(u"error"_s).toString().contains(u"values that the file stores once"_s))
        << qPrintable(d.attachments[0].value(u"error"_s).toString());
    EXPECT_EQ(d.files, 0);
}

// Multi-valued binary values within an attached message: 150,000 empty
// values, and 2,000,000 declared in the bytes of 150,000.
TEST_F(Hostile, MultiValuedValuesAreBoundedByTheirBytesAndTheBudget)
{
    constexpr std::uint32_t kValues = 150000;
    QByteArray many = u32(kValues);
    for (std::uint32_t i = 0; i < kValues; ++i)
        many += u32(4 + 4 * kValues);
    QByteArray overstated = many;
    qToLittleEndian<std::uint32_t>(2000000, overstated.data());
    const auto holding = [](const QString& subject, const QByteArray& bytes) {
        return message(subject, {embedded(message(u"Inner"_s, {text(u"values.bin"_s, bytes)}))});
    };
    const QString generated =
        generate(description({folder(u"Inbox"_s, {holding(u"Many"_s, many), holding(u"Overstated"_s, overstated)})}),
                 u"values.pst"_s);

    // The attachments' contents become multi-valued binary values.
    PstSurgery surgery(readFile(generated));
    ASSERT_EQ(surgery.replace(QByteArray::fromHex("01370201"), QByteArray::fromHex("01370211")), 2);
    const Dump d = run(surgery.save(path(u"values.pst"_s)));
    ASSERT_EQ(d.attachments.size(), 2u);
    EXPECT_TRUE(
        d.attachments[0].value(u"error"_s).toString().contains(u"more than %1 streams"_s.arg(msg::MsgWriter::kMaxStreams)))
        << qPrintable(d.attachments[0].value(u"error"_s).toString());
    EXPECT_TRUE(d.attachments[1].value(u"error"_s).toString().contains(u"2000000 values do not fit"_s))
        << qPrintable(d.attachments[1].value(u"error"_s).toString());
    EXPECT_EQ(d.files, 0);
}

// Folders listed below several folders at every level: each folder's
// attachment is saved once, under the folder its node names as parent, and
// a contents table taken over from another folder lists nothing of its own.
TEST_F(Hostile, FoldersListedUnderSeveralFoldersAreWalkedOnce)
{
    constexpr int kLevels = 24;
    pstgen::Folder tree = folder(u"X%1"_s.arg(kLevels), {message(u"Mail"_s, {text(u"x%1.txt"_s.arg(kLevels), "x")})});
    for (int level = kLevels - 1; level >= 1; --level)
        tree = folder(u"X%1"_s.arg(level), {message(u"Mail"_s, {text(u"x%1.txt"_s.arg(level), "x")})},
                      {std::move(tree), folder(u"Y%1"_s.arg(level + 1), {})});
    const QString generated = generate(description({std::move(tree)}), u"shared-folders.pst"_s);

    PstSurgery surgery(readFile(generated));
    auto store = pst::Store::open(generated);
    ASSERT_TRUE(store.ok());
    pst::Nid x = childNamed(**store, (*store)->ipmSubtree(), u"X1"_s);
    for (int level = 2; level <= kLevels; ++level) {
        const pst::Nid y = childNamed(**store, x, u"Y%1"_s.arg(level));
        // Y lists what X lists: X's subfolders and X's messages.
        for (const pst::Nid type : {pst::Nid(0x0D), pst::Nid(0x0E)}) {
            const pst::NodeEntry shared = surgery.node(tableOf(x, type));
            surgery.setNode(tableOf(y, type), shared.bidData, shared.bidSub);
        }
        x = childNamed(**store, x, u"X%1"_s.arg(level));
    }
    const Dump d = run(surgery.save(path(u"shared-folders.pst"_s)));
    EXPECT_EQ(d.attachments.size(), std::size_t(kLevels));
    EXPECT_EQ(d.files, kLevels);
}

// The top folder names a folder below it as its parent, and that folder
// lists it: the tree leads back to where it began, and is walked once.
TEST_F(Hostile, ATreeLeadingBackToItsTopIsWalkedOnce)
{
    const QString generated =
        generate(description({folder(u"A"_s, {message(u"in A"_s, {text(u"a.txt"_s, "a")})}, {folder(u"B"_s, {})})}),
                 u"loop.pst"_s);
    PstSurgery surgery(readFile(generated));
    auto store = pst::Store::open(generated);
    ASSERT_TRUE(store.ok());
    const pst::Nid top = (*store)->ipmSubtree();
    const pst::Nid a = childNamed(**store, top, u"A"_s);
    const pst::Nid b = childNamed(**store, a, u"B"_s);
    surgery.setParent(top, a);
    ASSERT_GE(surgery.replace(u32(b), u32(top), surgery.node(tableOf(a, 0x0D)).bidData), 1);
    const Dump d = run(surgery.save(path(u"loop.pst"_s)));
    ASSERT_EQ(d.attachments.size(), 1u);
    EXPECT_EQ(d.attachments[0].value(u"fileName"_s).toString(), u"a.txt"_s);
    EXPECT_EQ(d.files, 1);
}

// One message listed 420 times in its folder's contents table.
TEST_F(Hostile, AMessageListedManyTimesCountsOnce)
{
    std::vector<pstgen::Item> items{message(u"Listed often"_s, {random(u"often.bin"_s, 100000)})};
    for (int i = 2; i <= 420; ++i)
        items.push_back(message(u"Mail %1"_s.arg(i), {}));
    const QString generated = generate(description({folder(u"Inbox"_s, std::move(items))}), u"repeated-item.pst"_s);

    PstSurgery surgery(readFile(generated));
    const TopFolder inbox = topFolder(generated, u"Inbox"_s);
    ASSERT_EQ(inbox.messages.size(), 420u);
    const std::uint64_t table = surgery.node(tableOf(inbox.nid, 0x0E)).bidData;
    for (std::size_t i = 1; i < inbox.messages.size(); ++i)
        ASSERT_GE(surgery.replace(u32(inbox.messages[i]), u32(inbox.messages.front()), table), 1);
    const Dump d = run(surgery.save(path(u"repeated-item.pst"_s)));
    ASSERT_EQ(d.attachments.size(), 1u);
    EXPECT_EQ(d.attachments[0].value(u"size"_s).toInt(), 100000);
    EXPECT_EQ(d.files, 1);
}

// Trees deeper than any real one are walked whole.
TEST_F(Hostile, DeepFolderTreesGiveTheirAttachments)
{
    for (const int levels : {300, 1000}) {
        const Dump d = run(generate(description({deepTree(levels)}), u"deep-%1.pst"_s.arg(levels)));
        ASSERT_EQ(d.attachments.size(), 1u) << levels << " levels";
        EXPECT_EQ(d.attachments[0].value(u"fileName"_s).toString(), u"deep.txt"_s);
        EXPECT_EQ(d.files, 1);
    }
}
