#include "DamageFormats.h"

#include "Mailboxes.h"
#include "pstgen/PstWriter.h"

#include "testsupport/TestPaths.h"

#include <QFile>
#include <QTemporaryDir>

#include <map>

namespace parcelon::test {

using namespace pstgen::fixtures;
using namespace Qt::StringLiterals;

std::string formatName(pstgen::Format format)
{
    switch (format) {
    case pstgen::Format::Ansi:
        return "Ansi";
    case pstgen::Format::Unicode4k:
        return "FourK";
    case pstgen::Format::Unicode:
        break;
    }
    return "Unicode";
}

QString damageMailbox(pstgen::Format format)
{
    static QTemporaryDir dir;
    static std::map<pstgen::Format, QString> written;
    if (auto it = written.find(format); it != written.end())
        return it->second;

    pstgen::Description d;
    d.format = format;
    d.seed = 7;
    pstgen::Item note = message(u"Note {item}"_s, {file(u"note{item}.txt"_s, pstgen::Content::random(2, {100, 2000}))});
    note.repeat = pstgen::Range::fixed(130); // past the 126 entries of a 4 KiB node B-tree leaf
    d.root.folders = {
        folder(u"Inbox"_s, {message(u"Large"_s, {random(u"large.bin"_s, 150'000, 4), text(u"beside.txt"_s, "beside")}), note}),
        folder(u"Archive"_s, {message(u"Forwarded"_s, {embedded(message(u"Inner"_s, {text(u"inner.txt"_s, "inner")}))})}),
    };
    const QString path = dir.filePath(QString::fromStdString(formatName(format)) + u".pst"_s);
    const auto report = pstgen::PstWriter::write(d, path);
    EXPECT_TRUE(report.ok()) << report.error().message().toStdString();
    // Cut after the last page, as old files end inside their last section:
    // 4 KiB-page files would otherwise take 16 MB of unused room.
    QByteArray bytes = readFile(path);
    const qsizetype page = format == pstgen::Format::Unicode4k ? 4096 : 512;
    qsizetype end = bytes.size();
    while (end > 0 && bytes[end - 1] == 0)
        --end;
    bytes.truncate((end + page - 1) / page * page);
    QFile::remove(path);
    writeFile(path, bytes);
    written[format] = path;
    return path;
}

} // namespace parcelon::test
