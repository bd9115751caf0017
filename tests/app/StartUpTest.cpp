#include "testsupport/AppTestSupport.h"

#include "app/FormLoad.h"
#include "diagnostics/ApplicationTitle.h"
#include "diagnostics/Failure.h"
#include "testsupport/TestPaths.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

using StartUp = WindowTest;

TEST_F(StartUp, EmptyStoreGivesTheDesktopFolderAndTheFirstOptionAndStoresTheFolder)
{
    Form1& form = startForm();
    EXPECT_EQ(form.Text1->text(), desktopFolder + u'/');
    EXPECT_TRUE(form.Option1->isChecked());
    EXPECT_FALSE(form.Option2->isChecked());
    EXPECT_TRUE(form.Frame2->isEnabled());
    EXPECT_EQ(storedOnDisk(SettingsKey::Text1), desktopFolder + u'/');
    // Restoring the options is no click: nothing is stored for them.
    EXPECT_EQ(storedOnDisk(SettingsKey::Option1), std::nullopt);
    EXPECT_EQ(storedOnDisk(SettingsKey::Option2), std::nullopt);
    EXPECT_TRUE(desktop.shown().empty());
}

TEST_F(StartUp, FolderComesFromTheStoreElseTheDesktopElseHome)
{
    store(SettingsKey::Text1, u"/data/out, 2021/"_s);
    EXPECT_EQ(startForm().Text1->text(), u"/data/out, 2021/"_s);
    EXPECT_EQ(DesktopFolderPath(Environment(desktopFolder, homeFolder, programFolder)), desktopFolder + u'/');
    EXPECT_EQ(DesktopFolderPath(Environment(homeFolder + u"/Schreibtisch"_s, homeFolder, programFolder)), homeFolder + u'/');
}

TEST_F(StartUp, DesktopThatCannotBeFoundIsReportedAndLeavesTheFolderEmpty)
{
    desktopFolder.clear();
    store(SettingsKey::Text1, u"/data/out/"_s);
    desktop.expectErrorReport();
    Form1& form = startForm();
    EXPECT_EQ(desktop.errorReports(), QStringList{startUpReport(u"The desktop folder cannot be found"_s, 132)});
    EXPECT_EQ(form.Text1->text(), QString());
    EXPECT_EQ(storedOnDisk(SettingsKey::Text1), u"/data/out/"_s);
    // The start-up goes on after the report.
    EXPECT_TRUE(form.Option1->isChecked());
}

struct StoredOptions {
    const char* option1; // nullptr: absent
    const char* option2;
    bool firstSelected;
    bool secondSelected;
    int reportedLine = 0;
};

void PrintTo(const StoredOptions& stored, std::ostream* out)
{
    *out << (stored.option1 ? stored.option1 : "(absent)") << " / " << (stored.option2 ? stored.option2 : "(absent)");
}

class StartUpOptions : public WindowTest, public ::testing::WithParamInterface<StoredOptions> {};

TEST_P(StartUpOptions, RestoreTheSelectionAndEnableTheFolderWithTheFirst)
{
    const StoredOptions& stored = GetParam();
    if (stored.option1)
        store(SettingsKey::Option1, QString::fromLatin1(stored.option1));
    if (stored.option2)
        store(SettingsKey::Option2, QString::fromLatin1(stored.option2));
    if (stored.reportedLine)
        desktop.expectErrorReport();
    Form1& form = startForm();
    EXPECT_EQ(form.Option1->isChecked(), stored.firstSelected);
    EXPECT_EQ(form.Option2->isChecked(), stored.secondSelected);
    EXPECT_EQ(form.Frame2->isEnabled(), stored.firstSelected);
    EXPECT_EQ(form.Text1->isEnabled(), stored.firstSelected);
    EXPECT_EQ(form.PushButton6->isEnabled(), stored.firstSelected);
    const QStringList reports =
        stored.reportedLine ? QStringList{startUpReport(u"Type mismatch"_s, stored.reportedLine)} : QStringList{};
    EXPECT_EQ(desktop.errorReports(), reports);
}

INSTANTIATE_TEST_SUITE_P(
    Stored, StartUpOptions,
    ::testing::Values(StoredOptions{nullptr, nullptr, true, false}, StoredOptions{"True", "False", true, false},
                      StoredOptions{"False", "True", false, true}, StoredOptions{"True", "True", false, true},
                      StoredOptions{"False", "False", false, false}, StoredOptions{" TRUE ", "0", true, false},
                      StoredOptions{"0", "-1", false, true},
                      // No Boolean: reported, and the button keeps its state.
                      StoredOptions{"yes", nullptr, false, false, 134}, StoredOptions{nullptr, "0x1", true, false, 136}));

TEST_F(StartUp, CaptionIconTitleAndListColumn)
{
    Form1& form = makeForm();
    EXPECT_EQ(form.windowTitle(), u"Form1"_s);
    Form_Load(form);
    EXPECT_EQ(form.windowTitle(), u"Parcelon"_s);
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_EQ(applicationTitle(), u"Parcelon"_s);
    // No display name: Qt would append it to every window title.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    EXPECT_EQ(QGuiApplication::desktopFileName(), u"parcelon"_s);
    ASSERT_EQ(form.ListView1->columnCount(), 1);
    EXPECT_EQ(form.ListView1->headerItem()->text(0), u"PST File(s)"_s);
    EXPECT_EQ(form.ListView1->header()->sectionSize(0), 467);
}

TEST(ApplicationTitle, LosesItsLastWordAndMoreWhileLongerThanForty)
{
    EXPECT_EQ(applicationTitleFor(u"Parcelon"_s), u"Parcelon"_s);
    EXPECT_EQ(applicationTitleFor(u"Wrenfield Parcelon"_s), u"Wrenfield"_s);
    EXPECT_EQ(applicationTitleFor(u"Alpha Beta Gamma Delta Epsilon Zeta Eta Theta Iota"_s),
              u"Alpha Beta Gamma Delta Epsilon Zeta Eta"_s);
    EXPECT_EQ(applicationTitleFor(u"Averyveryveryveryveryverylongsingleproductname Suite"_s),
              u"Averyveryveryveryveryverylongsingleproductname"_s);
}

TEST_F(StartUp, SkinGivesButtonFaceColourAndItsStyleSheetElseAllStaysWhite)
{
    const auto backgrounds = [](const Form1& form) {
        QList<QColor> colours;
        for (const QWidget* control :
             std::initializer_list<const QWidget*>{&form, form.Frame1, form.Frame2, form.Option1, form.Option2, form.Text1})
            colours << control->palette().color(control->backgroundRole());
        return colours;
    };
    const QColor white(Qt::white);
    EXPECT_EQ(backgrounds(startForm()), QList<QColor>(6, white));
    EXPECT_TRUE(form->styleSheet().isEmpty());

    const QByteArray sheet = "QPushButton { color: rgb(1, 2, 3); } /* \xc3\xa9 */";
    writeFile(programFolder + u"/x/o.cjs"_s, sheet);
    const QColor face = QApplication::palette().color(QPalette::Button);
    ASSERT_NE(face, white);
    EXPECT_EQ(backgrounds(startForm()), (QList<QColor>{face, face, face, face, face, white}));
    EXPECT_EQ(form->styleSheet(), QString::fromUtf8(sheet));
}

TEST_F(StartUp, SkinThatIsNoTextIsReportedAndStartUpGoesOn)
{
    writeFile(programFolder + u"/x/o.cjs"_s, "QWidget { \xff\xfe }");
    desktop.expectErrorReport();
    Form1& form = startForm();
    ASSERT_EQ(desktop.errorReports().size(), 1);
    EXPECT_TRUE(desktop.errorReports().front().endsWith(u".Form1.Form_Load at line 100"_s));
    EXPECT_TRUE(form.styleSheet().isEmpty());
    EXPECT_EQ(form.windowTitle(), u"Parcelon"_s);
}

TEST_F(StartUp, HandPointerFileGivesTheCustomPointerElseTheHand)
{
    startForm().setMousePointer(MousePointer::Custom);
    EXPECT_EQ(form->cursor().shape(), Qt::PointingHandCursor);

    writeFile(programFolder + u"/HAND-M.CUR"_s, pointerFile({16, 16}, QPoint(5, 7)));
    startForm().setMousePointer(MousePointer::Custom);
    EXPECT_EQ(form->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(form->cursor().hotSpot(), QPoint(5, 7));
}

TEST_F(StartUp, HandPointerFileThatIsNoImageIsReported)
{
    writeFile(programFolder + u"/HAND-M.CUR"_s, "not a pointer");
    desktop.expectErrorReport();
    Form1& form = startForm();
    ASSERT_EQ(desktop.errorReports().size(), 1);
    EXPECT_TRUE(desktop.errorReports().front().startsWith(u"Cannot read the pointer image "_s));
    EXPECT_TRUE(desktop.errorReports().front().endsWith(u" at line 106"_s));
    EXPECT_FALSE(form.customPointerImage().has_value());
}

TEST_F(StartUp, WebSiteOpensOnTheDrawOfSevenOnlyAndNotWhileItHasNoAddress)
{
    const QString address = u"https://parcelon.example/"_s;
    for (double draw : {0.0, 0.059, 0.065, 0.07, 0.99}) {
        desktop.setRandomDraw(draw);
        OpenWebSiteByChance(desktop, address);
    }
    EXPECT_EQ(desktop.texts(Shown::OpenUrl), QStringList{address});
    desktop.setOpenUrlResult(false);
    desktop.setRandomDraw(0.065);
    EXPECT_THROW(OpenWebSiteByChance(desktop, address), Failure);
    desktop.clear();
    startForm();
    EXPECT_TRUE(desktop.shown().empty());
}
