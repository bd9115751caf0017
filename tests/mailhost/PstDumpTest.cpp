// pstdump saves attachments under names too long for a file name, shortened,
// and reports the size of what it saved whatever the name holds.

#include "Mailboxes.h"
#include "pstgen/PstWriter.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

TEST(PstDump, SavesAndSizesLongNamesAndNamesWithUnpairedSurrogates)
{
    using namespace pstgen::fixtures;
    QTemporaryDir work;
    const QString pst = work.filePath(u"names.pst"_s);
    const QString longName = QString(150, u'A') + QString(100, QChar(0xE9)) + u".pdf"_s; // 354 bytes
    const QString lone = u"lone "_s + QChar(0xD800) + u".txt"_s;
    pstgen::Description d;
    d.root.folders = {folder(u"Inbox"_s, {message(u"Names"_s, {text(longName, QByteArray(3000, 'L')), text(lone, "lone")})})};
    ASSERT_TRUE(pstgen::PstWriter::write(d, pst).ok());

    const QString out = work.filePath(u"out"_s);
    QProcess dump;
    dump.start(runtimeDir() + u"/pstdump"_s, {pst, u"--extract"_s, out});
    ASSERT_TRUE(dump.waitForFinished(60000));
    ASSERT_EQ(dump.exitCode(), 0) << dump.readAllStandardError().toStdString();
    QList<QJsonObject> saved;
    for (const QByteArray& line : dump.readAllStandardOutput().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.value(u"type"_s).toString() == u"attachment"_s)
            saved << object;
    }
    ASSERT_EQ(saved.size(), 2);
    EXPECT_EQ(saved[0].value(u"fileName"_s).toString(), longName);
    EXPECT_FALSE(saved[0].contains(u"error"_s)) << saved[0].value(u"error"_s).toString().toStdString();
    EXPECT_EQ(saved[0].value(u"size"_s).toInteger(), 3000);
    EXPECT_FALSE(saved[1].contains(u"error"_s)) << saved[1].value(u"error"_s).toString().toStdString();
    EXPECT_EQ(saved[1].value(u"size"_s).toInteger(), 4);

    const QStringList files = QDir(out).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 2);
    EXPECT_TRUE(files[0].startsWith(u"000001-AAAA"_s) && files[0].endsWith(QChar(0xE9) + u".pdf"_s)) << files[0].toStdString();
    EXPECT_LE(files[0].toUtf8().size(), 255);
    EXPECT_EQ(readFile(out + u'/' + files[0]), QByteArray(3000, 'L'));
    EXPECT_EQ(files[1], u"000002-lone ?.txt"_s);
}
