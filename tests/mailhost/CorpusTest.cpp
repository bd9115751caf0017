// Every real PST file of the corpus mounts and walks, and gives exactly the
// attachments that two independent PST tools extracted from it.

#include "mailhost/model/Registry.h"
#include "mailhost/pst/blocks/Header.h"
#include "mailhost/pst/bytes/ByteSource.h"
#include "mailhost/pst/messaging/Folder.h"
#include "testsupport/StoreWalk.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <tuple>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

struct Expected {
    bool compare = true;
    // folder -> (name, size, sha256); an empty name stands for "any name".
    std::map<QString, std::multiset<std::tuple<QString, qint64, QString>>> attachments;
};

std::map<QString, Expected> readExpectations()
{
    std::map<QString, Expected> result;
    const auto dir = corpusDir();
    if (!dir)
        return result;
    QFile file(*dir + u"/expected.jsonl"_s);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    while (!file.atEnd()) {
        const QJsonObject row = QJsonDocument::fromJson(file.readLine()).object();
        Expected& e = result[row[u"pst"_s].toString()];
        if (row[u"summary"_s].toBool())
            e.compare = row[u"compare"_s].toBool();
        else
            e.attachments[row[u"folder"_s].toString()].insert(
                {row[u"name"_s].toString(), row[u"size"_s].toInteger(), row[u"sha256"_s].toString()});
    }
    return result;
}

std::vector<std::string> corpusFiles()
{
    std::vector<std::string> names;
    if (const auto dir = corpusPstDir())
        for (const QString& name : QDir(*dir).entryList(QDir::Files, QDir::Name))
            names.push_back(name.toStdString());
    if (names.empty())
        names.push_back("(corpus absent)");
    return names;
}

// Counts what is read through it.
class CountingSource final : public pst::ByteSource {
public:
    CountingSource(std::unique_ptr<pst::ByteSource> inner, std::uint64_t& counter) : m_inner(std::move(inner)), m_counter(counter)
    {
    }
    std::uint64_t size() const override { return m_inner->size(); }
    pst::Result<void> read(std::uint64_t offset, std::span<std::uint8_t> buffer) const override
    {
        m_counter += buffer.size();
        return m_inner->read(offset, buffer);
    }
    const QString& name() const override { return m_inner->name(); }
    std::unique_ptr<pst::ByteSource> duplicate() const override { return m_inner->duplicate(); }

private:
    std::unique_ptr<pst::ByteSource> m_inner;
    std::uint64_t& m_counter;
};

class Corpus : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        const auto dir = corpusPstDir();
        if (!dir)
            GTEST_SKIP() << "the PST corpus (../shared/corpus) is not present";
        m_path = *dir + u'/' + QString::fromStdString(GetParam());
    }
    QString m_path;
};

} // namespace

TEST_P(Corpus, AttachmentsMatchThePeerTools)
{
    static const auto expectations = readExpectations();
    const QString name = QString::fromStdString(GetParam());
    const auto found = expectations.find(name);
    ASSERT_NE(found, expectations.end()) << "no expectation for " << GetParam();
    const Expected& expected = found->second;
    const QString before = sha256Of(m_path);

    auto mapi = mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId)->GetNamespace(u"MAPI"_s);
    try {
        mapi->AddStore(m_path);
    } catch (const std::exception& e) {
        EXPECT_FALSE(expected.compare) << "a file the peer tools read does not mount: " << e.what();
        return;
    }
    if (!expected.compare)
        return; // damaged: what its pages still verify, with nothing to compare

    auto root = mapi->Folders()->GetLast();
    QTemporaryDir out;
    const auto saved = saveAll(root, out.path());
    mapi->RemoveStore(root);

    std::map<QString, std::multiset<std::tuple<QString, qint64, QString>>> ours;
    for (const SavedAttachment& a : saved) {
        if (a.itemClass != 43 || a.type == 5)
            continue;
        EXPECT_TRUE(a.error.isEmpty()) << a.fileName.toStdString() << ": " << a.error.toStdString();
        ours[a.folder].insert({a.fileName, a.size, a.sha256});
    }
    // Names the tools could not see stand for any name.
    auto wanted = expected.attachments;
    for (auto& [folder, set] : wanted) {
        for (auto it = set.begin(); it != set.end();) {
            if (!std::get<0>(*it).isEmpty()) {
                ++it;
                continue;
            }
            auto& mine = ours[folder];
            auto match = std::find_if(mine.begin(), mine.end(), [&](const auto& t) {
                return std::get<1>(t) == std::get<1>(*it) && std::get<2>(t) == std::get<2>(*it);
            });
            if (match == mine.end()) {
                ++it;
                continue;
            }
            mine.erase(match);
            it = set.erase(it);
        }
    }
    for (auto& [folder, set] : ours)
        if (set.empty())
            wanted.try_emplace(folder);
    for (auto it = ours.begin(); it != ours.end();)
        it = it->second.empty() ? ours.erase(it) : std::next(it);
    for (auto it = wanted.begin(); it != wanted.end();)
        it = it->second.empty() ? wanted.erase(it) : std::next(it);
    EXPECT_EQ(ours.size(), wanted.size());
    for (const auto& [folder, set] : wanted) {
        const auto mine = ours.find(folder);
        ASSERT_NE(mine, ours.end()) << "folder " << folder.toStdString() << " gave nothing";
        EXPECT_EQ(mine->second, set) << "folder " << folder.toStdString();
    }
    EXPECT_EQ(sha256Of(m_path), before) << "the PST file changed";
}

TEST_P(Corpus, MountingReadsLittle)
{
    std::uint64_t read = 0;
    auto source = pst::FileSource::open(m_path);
    ASSERT_TRUE(source.ok());
    const std::uint64_t size = (*source)->size();
    auto header = pst::Header::read(**source);
    if (header && header->checksumsWrong)
        GTEST_SKIP() << "a damaged file is searched for its B-tree pages";
    auto mapi = mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId)->GetNamespace(u"MAPI"_s);
    try {
        mapi->AddStore(std::make_unique<CountingSource>(std::move(source).value(), read));
    } catch (const std::exception&) {
        return; // a file that does not mount is covered above
    }
    EXPECT_LT(read, 128u * 1024) << "of " << size;
    auto root = mapi->Folders()->GetLast();
    const std::uint64_t mounted = read;
    root->Name();
    EXPECT_EQ(read, mounted) << "the root's name comes from the store";
}

// Real files list each folder and message only under the folder its node
// names as parent, and only once: the rows of every folder's tables are all
// kept.
TEST_P(Corpus, EveryFolderKeepsAllItsRows)
{
    auto store = pst::Store::open(m_path);
    if (!store)
        return; // a file that does not mount is covered above
    std::vector<pst::Nid> folders;
    ASSERT_TRUE((*store)->trees().forEachNode([&](const pst::NodeEntry& e) {
        if ((e.nid & 0x1F) == 0x02)
            folders.push_back(e.nid);
        return true;
    }));
    int rows = 0;
    for (const pst::Nid nid : folders) {
        auto folder = pst::Folder::open(**store, nid, pst::Where());
        if (!folder)
            continue;
        for (const auto& [type, kept] :
             {std::pair(pst::Nid(0x0D), folder->subfolders()), std::pair(pst::Nid(0x0E), folder->messages())}) {
            auto node = (*store)->node((nid & ~pst::Nid(0x1F)) | type);
            auto table = node ? (*store)->table(*node, pst::Where()) : pst::Result<pst::TableContext>(node.error());
            if (!table)
                continue;
            ASSERT_TRUE(kept.ok());
            EXPECT_EQ(*kept, table->rowIds()) << "folder " << pst::hex(nid).toStdString();
            rows += static_cast<int>(kept->size());
        }
    }
    std::printf("%zu folders, %d rows\n", folders.size(), rows);
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, ::testing::ValuesIn(corpusFiles()), [](const auto& info) {
    std::string name;
    for (char c : info.param)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});
