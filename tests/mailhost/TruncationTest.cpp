// A file cut short anywhere before the end of its first B-tree pages mounts
// or fails with a description; whatever it still gives is saved intact.

#include "DamageFormats.h"
#include "Mailboxes.h"
#include "mailhost/model/Registry.h"
#include "pstgen/PstWriter.h"
#include "testsupport/PstSurgery.h"
#include "testsupport/StoreWalk.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

// Mounts `bytes` and saves every attachment; a refused mount gives nothing.
std::vector<SavedAttachment> mountAndSave(const QByteArray& bytes, const QString& outputDir)
{
    auto mapi = mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId)->GetNamespace(u"MAPI"_s);
    try {
        mapi->AddStore(std::make_unique<pst::MemorySource>(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), u"cut.pst"_s));
    } catch (const std::exception&) {
        return {};
    }
    return saveAll(mapi->Folders()->GetLast(), outputDir);
}

// The end of the pages the two B-tree roots lead to on their first level
// (the roots themselves when they are leaves).
std::uint64_t endOfFirstBTreePages(const PstSurgery& file)
{
    const std::uint64_t pageSize = file.format().pageSize();
    std::uint64_t end = 0;
    for (const pst::BlockRef& root : {file.header().nodeBTree, file.header().blockBTree}) {
        end = std::max(end, root.ib + pageSize);
        const auto shape = file.pageShape(root.ib);
        if (shape.level == 0)
            continue;
        for (std::uint64_t i = 0; i < shape.count; ++i)
            end = std::max(end, file.child(root.ib, i).ib + pageSize);
    }
    return end;
}

class Truncation : public ::testing::TestWithParam<pstgen::Format> {};

} // namespace

INSTANTIATE_TEST_SUITE_P(Formats, Truncation, kEveryFormat, [](const auto& info) { return formatName(info.param); });

TEST_P(Truncation, EveryCutBeforeTheFirstBTreePagesEndsMountsOrFailsCleanly)
{
    using namespace pstgen::fixtures;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"small.pst"_s);
    pstgen::Description d;
    d.format = GetParam();
    pstgen::Item many = message(u"Note {item}"_s, {text(u"note{item}.txt"_s, "note")});
    many.repeat = pstgen::Range::fixed(40); // two levels in the node B-tree of 512-byte pages
    d.root.folders = {folder(u"Inbox"_s, {message(u"Two blocks"_s, {random(u"two.bin"_s, 70'000, 5)}), many})};
    ASSERT_TRUE(pstgen::PstWriter::write(d, path).ok());
    const QByteArray original = readFile(path);
    const PstSurgery file(original);
    const std::uint64_t end = endOfFirstBTreePages(file);
    ASSERT_LE(end, std::uint64_t(original.size()));

    QTemporaryDir out;
    // Names are unique here, and a copy cut short may save an attachment
    // under a folder whose name it lost: bytes are matched by name alone.
    std::map<QString, QString> intact; // name: SHA-256
    for (const auto& a : mountAndSave(original, out.path()))
        intact[a.fileName] = a.sha256;
    ASSERT_EQ(intact.size(), 41u);

    int mounted = 0;
    for (std::uint64_t length = 0; length < end + 512; length += 512) {
        SCOPED_TRACE(length);
        const auto saved = mountAndSave(original.left(static_cast<qsizetype>(std::min<std::uint64_t>(length, end))), out.path());
        mounted += saved.empty() ? 0 : 1;
        for (const auto& a : saved) {
            if (a.error.isEmpty()) {
                EXPECT_EQ(a.sha256, intact[a.fileName]) << a.fileName.toStdString();
            }
        }
        ASSERT_TRUE(QDir(out.path()).isEmpty()) << "a failed save left a file behind";
    }
    // The whole first level is there at the end, so the last copy mounts.
    EXPECT_GT(mounted, 0);
}
