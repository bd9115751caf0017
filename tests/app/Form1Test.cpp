#include "testsupport/AppTestSupport.h"

#include "diagnostics/Failure.h"
#include "testsupport/TestPaths.h"
#include "window/CursorFile.h"
#include "window/ProgressBar.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

struct Control {
    const char* name;
    const char* parent;
    QRect pixels; // the designed twips, 15 to a pixel, rounded
    const char* caption;
};

const Control kControls[] = {
    {"ListView1", "Form1", {8, 8, 520, 169}, nullptr},
    {"PushButton1", "Form1", {8, 183, 256, 27}, "Add PST File(s)"},
    {"PushButton4", "Form1", {272, 183, 256, 27}, "Add All PST Files In Folder"},
    {"PushButton3", "Form1", {8, 217, 256, 27}, "Clear List"},
    {"PushButton5", "Form1", {272, 217, 256, 27}, "Load Sample/Example Files"},
    {"Frame1", "Form1", {8, 248, 520, 121}, "Save Option"},
    {"Option1", "Frame1", {16, 20, 241, 17}, "Save results to this folder:"},
    {"Frame2", "Frame1", {16, 32, 488, 55}, ""},
    {"Text1", "Frame2", {16, 20, 400, 23}, ""},
    {"PushButton6", "Frame2", {432, 20, 40, 23}, "..."},
    {"Option2", "Frame1", {16, 94, 241, 17}, "Save results in folder of original file"},
    {"PushButton2", "Form1", {8, 383, 520, 27}, "Start Extracting Attachments"},
    {"ProgressBar1", "Form1", {8, 417, 520, 27}, "Progress Bar"},
};

QString caption(const QWidget* control)
{
    if (auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text();
    if (auto* frame = qobject_cast<const QGroupBox*>(control))
        return frame->title();
    if (auto* box = qobject_cast<const QLineEdit*>(control))
        return box->text();
    if (auto* bar = qobject_cast<const ProgressBar*>(control))
        return bar->text();
    return {};
}

} // namespace

using Window = WindowTest;

TEST_F(Window, EveryControlHasItsNameParentPlaceAndCaption)
{
    Form1& form = makeForm();
    EXPECT_EQ(form.objectName(), u"Form1"_s);
    EXPECT_EQ(form.size(), QSize(536, 456));
    for (const Control& expected : kControls) {
        auto* control = form.findChild<QWidget*>(QString::fromLatin1(expected.name));
        ASSERT_TRUE(control) << expected.name;
        EXPECT_EQ(control->parentWidget()->objectName(), QString::fromLatin1(expected.parent)) << expected.name;
        EXPECT_EQ(control->geometry(), expected.pixels) << expected.name;
        if (expected.caption) {
            EXPECT_EQ(caption(control), QString::fromUtf8(expected.caption)) << expected.name;
        }
    }
    EXPECT_EQ(form.ListView1->toolTip(),
              u"Drag and drop files here. Double-click item to remove it. Move | line to right and out of window "
              "to reveal full names."_s);
    EXPECT_EQ(form.Option1, form.findChild<QRadioButton*>(u"Option1"_s));
}

TEST_F(Window, FontsAreArialBoldAndLargerOnTheButtons)
{
    Form1& form = makeForm();
    for (const QWidget* control : std::initializer_list<const QWidget*>{&form, form.ListView1, form.Option1, form.Text1}) {
        EXPECT_EQ(control->font().family(), u"Arial"_s);
        EXPECT_EQ(control->font().pointSizeF(), 9.0) << control->objectName().toStdString();
        EXPECT_TRUE(control->font().bold());
    }
    const QList<QPushButton*> buttons = form.findChildren<QPushButton*>();
    EXPECT_EQ(buttons.size(), 6);
    for (const QPushButton* button : buttons) {
        EXPECT_EQ(button->font().pointSizeF(), 11.25) << button->objectName().toStdString();
        EXPECT_TRUE(button->font().bold());
    }
    // Liberation Sans stands in for Arial, with Arial's measures.
    EXPECT_EQ(QFontInfo(form.font()).family(), u"Liberation Sans"_s);
}

TEST_F(Window, TabOrderSkipsTheFramesAndTheBar)
{
    Form1& form = makeForm();
    QStringList order;
    QWidget* widget = form.ListView1;
    do {
        if (widget->parentWidget() && (widget->focusPolicy() & Qt::TabFocus) && !widget->objectName().isEmpty())
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != form.ListView1);
    EXPECT_EQ(order,
              (QStringList{u"ListView1"_s, u"PushButton1"_s, u"PushButton4"_s, u"PushButton2"_s, u"PushButton3"_s,
                           u"PushButton5"_s, u"Option2"_s, u"Option1"_s, u"Text1"_s, u"PushButton6"_s}));
}

TEST_F(Window, FixedSizeWithMinimizeWithoutMaximizeAndASingleSelectionList)
{
    Form1& form = makeForm();
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    form.resize(700, 700);
    EXPECT_EQ(form.size(), QSize(536, 456));

    const QTreeWidget* list = form.ListView1;
    EXPECT_FALSE(list->rootIsDecorated());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(list->dragEnabled());
    EXPECT_FALSE(list->header()->stretchLastSection());
    EXPECT_EQ(list->header()->sectionResizeMode(0), QHeaderView::Interactive);
}

TEST_F(Window, OptionsAreSetAsCodeSetsThemAndClickedAsUsual)
{
    Form1& form = makeForm();
    EXPECT_FALSE(form.Option1->isChecked() || form.Option2->isChecked());
    form.setOptionSelected(form.Option1, true);
    form.setOptionSelected(form.Option2, true);
    EXPECT_FALSE(form.Option1->isChecked());
    EXPECT_TRUE(form.Option2->isChecked());
    form.setOptionSelected(form.Option2, false);
    EXPECT_FALSE(form.Option1->isChecked() || form.Option2->isChecked());
    form.Option1->click();
    form.Option2->click();
    EXPECT_FALSE(form.Option1->isChecked());
    EXPECT_TRUE(form.Option2->isChecked());
}

TEST_F(Window, PointerCodesAndProgressText)
{
    Form1& form = makeForm();
    EXPECT_EQ(form.mousePointer(), MousePointer::Default);
    form.setMousePointer(MousePointer::Busy);
    EXPECT_TRUE(form.isBusy());
    EXPECT_EQ(form.cursor().shape(), Qt::WaitCursor);
    form.setMousePointer(MousePointer::Default);
    EXPECT_FALSE(form.isBusy());
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);

    form.ProgressBar1->setValue(50);
    form.ProgressBar1->setText(u"Processing: 100%p %v.pst"_s);
    EXPECT_EQ(form.ProgressBar1->text(), u"Processing: 100%p %v.pst"_s);
}

TEST_F(Window, IconFilePointsAtItsCentreAndADamagedFileFails)
{
    const QByteArray bytes = pointerFile({20, 10});
    writeFile(programFolder + u"/drag.ico"_s, bytes);
    const QCursor cursor = readCursorFile(programFolder + u"/drag.ico"_s);
    EXPECT_EQ(cursor.pixmap().size(), QSize(20, 10));
    EXPECT_EQ(cursor.hotSpot(), QPoint(10, 5));
    writeFile(programFolder + u"/cut.cur"_s, pointerFile({16, 16}, QPoint(1, 1)).left(30));
    EXPECT_THROW(readCursorFile(programFolder + u"/cut.cur"_s), Failure);
    EXPECT_THROW(readCursorFile(programFolder + u"/absent.cur"_s), Failure);
}
