#include "testsupport/AppTestSupport.h"

#include "diagnostics/ErrorReport.h"
#include "diagnostics/Failure.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

TEST(BooleanText, TrueFalseAndNumbersInAnyCaseWithBlanks)
{
    for (const char* text : {"True", "true", "TRUE", "  tRuE ", "1", "-1", "+7", "2.5", "0.001", ".5", "5.", "1e3", "3E-400"})
        EXPECT_TRUE(Settings::toBoolean(QString::fromLatin1(text))) << text;
    for (const char* text : {"False", "false", " FALSE", "0", "-0", "000", "0.0", ".0", "0e99999"})
        EXPECT_FALSE(Settings::toBoolean(QString::fromLatin1(text))) << text;
}

TEST(BooleanText, AnythingElseIsATypeMismatch)
{
    for (const char* text : {"", "   ", "yes", "T", "0x1", "1,5", "1e", "e5", "--1", "+", ".", "tru e", "1 0"}) {
        try {
            Settings::toBoolean(QString::fromLatin1(text));
            ADD_FAILURE() << "no failure for \"" << text << '"';
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.number(), FailureNumber::TypeMismatch) << text;
            EXPECT_EQ(failure.description(), u"Type mismatch"_s) << text;
        }
    }
    EXPECT_EQ(Settings::booleanText(true), u"True"_s);
    EXPECT_EQ(Settings::booleanText(false), u"False"_s);
}

using SettingsStore = WindowTest;

TEST_F(SettingsStore, WritesReachTheUsersFileAtOnceInSectionParcelon)
{
    Settings store;
    EXPECT_EQ(QFileInfo(store.fileName()), QFileInfo(settingsFile()));
    EXPECT_EQ(store.read(SettingsKey::LastFolder, u"none"_s), u"none"_s);
    store.writeBoolean(SettingsKey::Option2, true);
    EXPECT_EQ(storedOnDisk(SettingsKey::Option2), u"True"_s);
    // Texts of every kind come back as written, the snapshot's bytes included.
    QString bytes;
    for (char16_t c = 1; c <= 0xff; ++c)
        bytes += QChar(c);
    for (const QString& value : {u"a, b"_s, u"=[x]; \"q\" \\"_s, bytes, QString()}) {
        store.write(SettingsKey::Snapshot, value);
        EXPECT_EQ(storedOnDisk(SettingsKey::Snapshot), value);
    }
    QFile file(settingsFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("[Parcelon]\n"));
}

TEST_F(SettingsStore, EveryChangeOfTheFolderBoxIsStored)
{
    Form1& form = startForm();
    form.Text1->clear();
    QStringList storedAfterEachKey;
    QObject::connect(form.Text1, &QLineEdit::textChanged,
                     [&] { storedAfterEachKey << storedOnDisk(SettingsKey::Text1).value_or(u"(absent)"_s); });
    QTest::keyClicks(form.Text1, u"/Out"_s);
    EXPECT_EQ(storedAfterEachKey, (QStringList{u"/"_s, u"/O"_s, u"/Ou"_s, u"/Out"_s}));
    form.Text1->setText(u" spaced "_s);
    EXPECT_EQ(storedOnDisk(SettingsKey::Text1), u" spaced "_s);
}

TEST_F(SettingsStore, StoreThatCannotBeWrittenIsReportedOnceAndTheBoxKeepsItsText)
{
    // A folder where the file should be: nothing can be written there.
    ASSERT_TRUE(QDir().mkpath(settingsFile()));
    // The snapshot's two tries are steps of the start-up; the box's change is a handler of its own.
    for (int report = 0; report < 3; ++report)
        desktop.expectErrorReport();
    Form1& form = startForm();
    const QStringList reports = desktop.errorReports();
    ASSERT_EQ(reports.size(), 3);
    for (const QString& report : reports)
        EXPECT_TRUE(report.startsWith(u"Cannot write the settings file "_s)) << report.toStdString();
    EXPECT_TRUE(reports[0].endsWith(u"\r\nin Tovarek2021/08/31.Form1.Form_Load at line 108"_s));
    EXPECT_TRUE(reports[1].endsWith(u"\r\nin Tovarek2021/08/31.Form1.Form_Load at line 126"_s));
    EXPECT_TRUE(reports[2].endsWith(u"\r\nin Tovarek2021/08/31.Form1.Text1_Change at line 0"_s)) << reports[2].toStdString();
    QTest::keyClicks(form.Text1, u"ab"_s);
    EXPECT_EQ(form.Text1->text(), desktopFolder + u"/ab"_s);
    EXPECT_EQ(desktop.errorReports().size(), 3);
    // A numbered step still hears of every failed write.
    EXPECT_THROW(settings->write(SettingsKey::LastFolder, u"/x"_s), Failure);
}
