// The compound-file writer against its own reader, the strict checks and the
// peer readers; the reader against damaged files and Outlook's OLE objects.

#include "EngineWalk.h"
#include "MsgCheck.h"
#include "StrictCheck.h"

#include "mailhost/model/AttachmentSaver.h"
#include "mailhost/msg/CompoundFileReader.h"
#include "mailhost/msg/CompoundFileWriter.h"
#include "mailhost/pst/messaging/PropertyIds.h"
#include "testsupport/TestPaths.h"

#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <map>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;
using msg::CompoundFileReader;
using msg::CompoundFileWriter;
namespace cfb = msg::cfb;

namespace {

// An output held in memory; fails every write once `limit` bytes are reached.
struct MemoryOutput {
    std::vector<std::uint8_t> bytes;
    std::size_t limit = SIZE_MAX;

    msg::Output output()
    {
        return {[this](pst::Bytes b) { return writeAt(bytes.size(), b); },
                [this](std::uint64_t at, pst::Bytes b) { return writeAt(at, b); }};
    }

    pst::Result<void> writeAt(std::uint64_t at, pst::Bytes b)
    {
        if (at + b.size() > limit)
            return pst::Error(pst::ErrorKind::Io, u"cannot write memory: the disk is full"_s, 28);
        if (bytes.size() < at + b.size())
            bytes.resize(at + b.size());
        std::copy(b.begin(), b.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        return {};
    }
};

std::vector<std::uint8_t> pattern(std::size_t size, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// Gives `bytes` in pieces of growing sizes, across sector boundaries.
CompoundFileWriter::Producer inPieces(const std::vector<std::uint8_t>& bytes)
{
    return [&bytes](const CompoundFileWriter::Sink& sink) -> pst::Result<void> {
        std::size_t at = 0;
        for (std::size_t piece = 1; at < bytes.size(); piece = piece * 3 + 1) {
            const std::size_t n = std::min(piece, bytes.size() - at);
            if (auto r = sink(pst::Bytes(bytes).subspan(at, n)); !r)
                return r;
            at += n;
        }
        return {};
    };
}

pst::Result<CompoundFileReader> readBack(const MemoryOutput& out, std::unique_ptr<pst::MemorySource>& source)
{
    source = std::make_unique<pst::MemorySource>(out.bytes, u"written.cfb"_s);
    return CompoundFileReader::open(*source);
}

QString writeOut(const QTemporaryDir& dir, const QString& name, const std::vector<std::uint8_t>& bytes)
{
    const QString path = dir.filePath(name);
    writeFile(path, QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
    return path;
}

} // namespace

TEST(CompoundFileWriter, WritesWhatItIsGivenInEveryLayout)
{
    // Sizes on both sides of the mini-sector, sector and mini-stream limits;
    // storages three deep; enough names of mixed length and case for deep trees.
    std::map<QString, std::vector<std::uint8_t>> given;
    MemoryOutput out;
    CompoundFileWriter writer(out.output());
    const cfb::Clsid clsid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    writer.setClsid(CompoundFileWriter::kRoot, clsid);
    std::uint32_t seed = 1;
    for (std::size_t size : {0, 1, 63, 64, 65, 511, 512, 4095, 4096, 4097, 70000}) {
        const QString name = u"size %1"_s.arg(size);
        given[name] = pattern(size, seed++);
        ASSERT_TRUE(writer.addStream(CompoundFileWriter::kRoot, name, given[name].size(), inPieces(given[name])));
    }
    auto storage = CompoundFileWriter::kRoot;
    QString path;
    for (const QString& level : {u"Äußere"_s, u"middle"_s, u"\u0001Inner"_s}) {
        auto sub = writer.addStorage(storage, level);
        ASSERT_TRUE(sub);
        storage = *sub;
        path += (path.isEmpty() ? QString() : u"/"_s) + level;
        given[path + u"/data"_s] = pattern(5000, seed++);
        ASSERT_TRUE(writer.addStream(storage, u"data"_s, given[path + u"/data"_s]));
    }
    auto many = writer.addStorage(CompoundFileWriter::kRoot, u"many"_s);
    ASSERT_TRUE(many);
    for (int i = 0; i < 100; ++i) {
        const QString name = QString(i % 7 + 1, QChar(i % 2 ? u'a' : u'B')) + QString::number(i, 16);
        given[u"many/"_s + name] = pattern(i * 37, seed++);
        ASSERT_TRUE(writer.addStream(*many, name, given[u"many/"_s + name]));
    }
    ASSERT_TRUE(writer.finish());

    std::unique_ptr<pst::MemorySource> source;
    auto file = readBack(out, source);
    ASSERT_TRUE(file) << file.error().message().toStdString();
    EXPECT_EQ(compoundFileFaults(*file, out.bytes.size()).join(u"; "_s).toStdString(), "");
    EXPECT_EQ(file->entry(0).clsid, clsid);
    EXPECT_EQ(file->entry(file->find(0, u"size 0"_s).value()).start, cfb::EndOfChain);
    EXPECT_TRUE(file->inMiniStream(file->find(0, u"size 4095"_s).value()));
    EXPECT_FALSE(file->inMiniStream(file->find(0, u"size 4096"_s).value()));
    EXPECT_EQ(streamsOf(*file), given);

    QTemporaryDir dir;
    expectPeersAgree(writeOut(dir, u"layouts.cfb"_s, out.bytes), given);
}

TEST(CompoundFileWriter, ChainsDifatSectorsPastTheHeadersSlots)
{
    // 9 MB need 144 FAT sectors: 109 in the header, the rest in a DIFAT sector.
    const std::vector<std::uint8_t> big = pattern(9 * 1024 * 1024, 7);
    MemoryOutput out;
    CompoundFileWriter writer(out.output());
    ASSERT_TRUE(writer.addStream(CompoundFileWriter::kRoot, u"big"_s, big.size(), inPieces(big)));
    ASSERT_TRUE(writer.addStream(CompoundFileWriter::kRoot, u"small"_s, pattern(100, 8)));
    ASSERT_TRUE(writer.finish());

    std::unique_ptr<pst::MemorySource> source;
    auto file = readBack(out, source);
    ASSERT_TRUE(file) << file.error().message().toStdString();
    EXPECT_GT(file->header().fatSectors, cfb::kHeaderDifatSlots);
    EXPECT_EQ(file->header().difatSectors, 1u);
    EXPECT_EQ(compoundFileFaults(*file, out.bytes.size()).join(u"; "_s).toStdString(), "");
    const std::map<QString, std::vector<std::uint8_t>> given{{u"big"_s, big}, {u"small"_s, pattern(100, 8)}};
    EXPECT_EQ(streamsOf(*file), given);

    QTemporaryDir dir;
    expectPeersAgree(writeOut(dir, u"difat.cfb"_s, out.bytes), given);
}

TEST(CompoundFileWriter, RefusesWhatTheFormatCannotHold)
{
    MemoryOutput out;
    CompoundFileWriter writer(out.output());
    const auto refused = [](const pst::Result<CompoundFileWriter::EntryId>& r, const char* text) {
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), pst::ErrorKind::BadName);
        EXPECT_TRUE(r.error().message().contains(QString::fromUtf8(text))) << r.error().message().toStdString();
    };
    refused(writer.addStorage(CompoundFileWriter::kRoot, QString(32, u'x')), "32 characters");
    refused(writer.addStorage(CompoundFileWriter::kRoot, u"a/b"_s), "\"/\"");
    refused(writer.addStorage(CompoundFileWriter::kRoot, QString()), "empty");
    ASSERT_TRUE(writer.addStorage(CompoundFileWriter::kRoot, u"Name"_s));
    refused(writer.addStorage(CompoundFileWriter::kRoot, u"NAME"_s), "twice");
    // Names are refused without harm; a stream given the wrong size is not.
    ASSERT_TRUE(writer.addStream(CompoundFileWriter::kRoot, u"fine"_s, pattern(10, 1)));
    const std::vector<std::uint8_t> short_ = pattern(5000, 2);
    auto wrong = writer.addStream(CompoundFileWriter::kRoot, u"short"_s, 6000, inPieces(short_));
    ASSERT_FALSE(wrong);
    EXPECT_TRUE(wrong.error().message().contains(u"5000 of its 6000 bytes"_s)) << wrong.error().message().toStdString();
    auto after = writer.finish();
    ASSERT_FALSE(after);
    EXPECT_EQ(after.error().message(), wrong.error().message());

    CompoundFileWriter tooMuch(out.output());
    auto over = tooMuch.addStream(CompoundFileWriter::kRoot, u"over"_s, 10, inPieces(short_));
    ASSERT_FALSE(over);
    EXPECT_TRUE(over.error().message().contains(u"more than its 10 bytes"_s));
}

TEST(CompoundFileWriter, PassesOnTheOutputsFailure)
{
    for (std::size_t limit : {std::size_t(100), std::size_t(300 * 1024), std::size_t(515000)}) {
        MemoryOutput out;
        out.limit = limit;
        CompoundFileWriter writer(out.output());
        const std::vector<std::uint8_t> data = pattern(500 * 1024, 3);
        auto added = writer.addStream(CompoundFileWriter::kRoot, u"data"_s, data.size(), inPieces(data));
        auto finished = added ? writer.finish() : pst::Result<void>(added.error());
        ASSERT_FALSE(finished) << limit;
        EXPECT_EQ(finished.error().kind(), pst::ErrorKind::Io);
        EXPECT_EQ(finished.error().message(), u"cannot write memory: the disk is full"_s);
    }
}

TEST(CompoundFileReader, RefusesDamagedFiles)
{
    MemoryOutput out;
    CompoundFileWriter writer(out.output());
    const std::vector<std::uint8_t> big = pattern(10000, 4);
    ASSERT_TRUE(writer.addStream(CompoundFileWriter::kRoot, u"big"_s, big));
    ASSERT_TRUE(writer.addStream(CompoundFileWriter::kRoot, u"other"_s, pattern(5000, 5)));
    ASSERT_TRUE(writer.addStream(CompoundFileWriter::kRoot, u"small"_s, pattern(300, 6)));
    ASSERT_TRUE(writer.finish());
    const std::vector<std::uint8_t> sound = out.bytes;
    const auto fatAt = [&](std::uint32_t sector) {
        const std::uint32_t fatSector = qFromLittleEndian<std::uint32_t>(sound.data() + cfb::HeaderField::Difat);
        return (fatSector + 1) * cfb::kSectorSize + sector * 4;
    };
    const auto reads = [](std::vector<std::uint8_t> bytes) -> std::optional<QString> {
        pst::MemorySource source(std::move(bytes), u"damaged.cfb"_s);
        auto file = CompoundFileReader::open(source);
        if (file)
            return std::nullopt;
        return file.error().message();
    };
    struct Damage {
        const char* fault;
        std::function<void(std::vector<std::uint8_t>&)> apply;
    };
    const std::vector<Damage> damages = {
        {"not a compound file", [](auto& b) { b[0] = 0; }},
        {"byte order", [](auto& b) { b[cfb::HeaderField::ByteOrder] = 0; }},
        {"belongs to another chain", [&](auto& b) { qToLittleEndian<std::uint32_t>(0, b.data() + fatAt(0)); }},
        {"belongs to another chain", [&](auto& b) { qToLittleEndian<std::uint32_t>(5, b.data() + fatAt(25)); }},
        {"instead of a sector", [&](auto& b) { qToLittleEndian<std::uint32_t>(cfb::FreeSect, b.data() + fatAt(3)); }},
        {"outside the file", [&](auto& b) { qToLittleEndian<std::uint32_t>(5000, b.data() + fatAt(3)); }},
        {"its chain has", [&](auto& b) { qToLittleEndian<std::uint32_t>(cfb::EndOfChain, b.data() + fatAt(3)); }},
        {"FAT sectors do not fit",
         [](auto& b) { qToLittleEndian<std::uint32_t>(1000, b.data() + cfb::HeaderField::FatSectors); }},
        {"reached twice",
         [&](auto& b) {
             // The root's first child made its own left child.
             const std::uint32_t dir = qFromLittleEndian<std::uint32_t>(b.data() + cfb::HeaderField::FirstDirectorySector);
             const std::size_t root = (dir + 1) * cfb::kSectorSize;
             const std::uint32_t child = qFromLittleEndian<std::uint32_t>(b.data() + root + cfb::EntryField::Child);
             qToLittleEndian(child, b.data() + root + child * cfb::kEntrySize + cfb::EntryField::Left);
         }},
    };
    ASSERT_EQ(reads(sound), std::nullopt);
    for (const Damage& d : damages) {
        std::vector<std::uint8_t> bytes = sound;
        d.apply(bytes);
        const auto fault = reads(bytes);
        ASSERT_TRUE(fault) << d.fault;
        EXPECT_TRUE(fault->contains(QString::fromUtf8(d.fault))) << fault->toStdString();
        EXPECT_TRUE(fault->startsWith(u"damaged.cfb"_s)) << fault->toStdString();
    }
    // Every truncation to whole sectors fails cleanly.
    for (std::size_t size = 0; size < sound.size(); size += cfb::kSectorSize)
        EXPECT_TRUE(reads(std::vector<std::uint8_t>(sound.begin(), sound.begin() + std::ptrdiff_t(size)))) << size;
}

TEST(CompoundFileReader, ReadsOutlooksOleObjectsAsSaved)
{
    // The OLE attachments (method 6) of a real file are saved as stored: each
    // must be a complete compound file that the peers read as we do.
    const auto corpus = corpusPstDir();
    if (!corpus)
        GTEST_SKIP() << "no PST corpus";
    auto store = pst::Store::open(*corpus + u"/SampleOstFile.ost"_s);
    ASSERT_TRUE(store);
    QTemporaryDir dir;
    int saved = 0;
    forEachAttachment(**store, [&](const pst::Message&, const pst::Attachment& attachment) {
        if (attachment.method() != pst::AttachMethod::Storage)
            return;
        const QString path = dir.filePath(u"ole%1"_s.arg(++saved));
        ASSERT_TRUE(mailhost::saveAttachment(attachment, u"ole"_s, path));
        const QByteArray bytes = readFile(path);
        pst::MemorySource source(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), path);
        auto file = CompoundFileReader::open(source);
        ASSERT_TRUE(file) << file.error().message().toStdString();
        EXPECT_NE(file->find(0, u"CONTENTS"_s), std::nullopt);
        expectPeersAgree(path, streamsOf(*file));
    });
    EXPECT_EQ(saved, 12);
}
