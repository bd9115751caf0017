#include "testsupport/AppTestSupport.h"

#include "diagnostics/ErrorReport.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

using OutputFolder = WindowTest;

namespace {

const Interaction& lastShown(const ScriptedDesktop& desktop)
{
    return desktop.shown().back();
}

} // namespace

TEST_F(OutputFolder, BrowsePutsTheFolderWithASeparatorIntoTheBoxAndStartsThereNextTime)
{
    const QString mail = homeFolder + u"/Mail"_s;
    ASSERT_TRUE(QDir().mkpath(mail));
    store(SettingsKey::Text1, homeFolder + u"/Elsewhere/"_s);
    Form1& form = startForm();

    desktop.answerFolder(mail);
    form.PushButton6->click();
    // The picker starts where it was last used, not where the box points.
    EXPECT_EQ(lastShown(desktop).text, u"Please select folder:"_s);
    EXPECT_EQ(lastShown(desktop).defaultText, homeFolder);
    EXPECT_EQ(form.Text1->text(), mail + u'/');
    EXPECT_EQ(storedOnDisk(SettingsKey::Text1), mail + u'/');
    EXPECT_EQ(storedOnDisk(SettingsKey::LastFolderDot), mail);

    // Cancelling changes nothing; the next browse still starts in Mail.
    desktop.answerFolder(QString());
    form.PushButton6->click();
    EXPECT_EQ(lastShown(desktop).defaultText, mail);
    EXPECT_EQ(form.Text1->text(), mail + u'/');
    EXPECT_EQ(storedOnDisk(SettingsKey::LastFolderDot), mail);

    // The root keeps its one separator.
    desktop.answerFolder(u"/"_s);
    form.PushButton6->click();
    EXPECT_EQ(form.Text1->text(), u"/"_s);
    EXPECT_EQ(storedOnDisk(SettingsKey::Text1), u"/"_s);
    EXPECT_EQ(storedOnDisk(SettingsKey::LastFolderDot), u"/"_s);

    // The folder of an earlier run is where the picker opens.
    store(SettingsKey::LastFolderDot, mail);
    Form1& next = startForm();
    desktop.answerFolder(QString());
    next.PushButton6->click();
    EXPECT_EQ(lastShown(desktop).defaultText, mail);
    EXPECT_EQ(next.Text1->text(), u"/"_s);
    EXPECT_TRUE(desktop.errorReports().isEmpty());
}

TEST_F(OutputFolder, OptionClicksStoreBothAndTheFrameFollowsTheFirst)
{
    store(SettingsKey::Text1, u"/data/out/"_s);
    Form1& form = startForm();
    QTest::mouseClick(form.Option2, Qt::LeftButton);
    EXPECT_TRUE(form.Option2->isChecked());
    EXPECT_EQ(storedOnDisk(SettingsKey::Option1), u"False"_s);
    EXPECT_EQ(storedOnDisk(SettingsKey::Option2), u"True"_s);
    EXPECT_FALSE(form.Frame2->isEnabled());
    EXPECT_FALSE(form.Text1->isEnabled());
    EXPECT_FALSE(form.PushButton6->isEnabled());
    EXPECT_EQ(form.Text1->text(), u"/data/out/"_s);
    EXPECT_EQ(storedOnDisk(SettingsKey::Text1), u"/data/out/"_s);

    QTest::mouseClick(form.Option1, Qt::LeftButton);
    EXPECT_EQ(storedOnDisk(SettingsKey::Option1), u"True"_s);
    EXPECT_EQ(storedOnDisk(SettingsKey::Option2), u"False"_s);
    EXPECT_TRUE(form.PushButton6->isEnabled());

    // The choice is what the next start restores.
    QTest::mouseClick(form.Option2, Qt::LeftButton);
    Form1& next = startForm();
    EXPECT_FALSE(next.Option1->isChecked());
    EXPECT_TRUE(next.Option2->isChecked());
    EXPECT_FALSE(next.Frame2->isEnabled());
}

TEST_F(OutputFolder, StoreThatCannotBeWrittenIsToldOnceAndTheControlsFollowTheUser)
{
    const QString mail = homeFolder + u"/Mail"_s;
    ASSERT_TRUE(QDir().mkpath(mail));
    Form1& form = startForm();
    // A folder where the file should be: from now on nothing can be written.
    ASSERT_TRUE(QFile::remove(settingsFile()));
    ASSERT_TRUE(QDir().mkpath(settingsFile()));

    desktop.expectErrorReport();
    QTest::mouseClick(form.Option2, Qt::LeftButton);
    EXPECT_FALSE(form.Frame2->isEnabled());
    QTest::mouseClick(form.Option1, Qt::LeftButton);
    EXPECT_TRUE(form.Frame2->isEnabled());
    // A numbered step hears of its own failure; the box's change stays silent now.
    desktop.answerFolder(mail);
    desktop.expectErrorReport();
    form.PushButton6->click();
    EXPECT_EQ(form.Text1->text(), mail + u'/');
    const QStringList reports = desktop.errorReports();
    ASSERT_EQ(reports.size(), 2);
    EXPECT_TRUE(reports[0].endsWith(u"\r\nin Tovarek2021/08/31.Form1.Option2_Click at line 0"_s));
    EXPECT_TRUE(reports[1].endsWith(u"\r\nin Tovarek2021/08/31.Form1.PushButton6_Click at line 104"_s));
}
