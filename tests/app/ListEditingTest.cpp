#include "testsupport/AppTestSupport.h"

#include "app/ListEditing.h"
#include "sources/SourceList.h"
#include "testsupport/TestPaths.h"
#include "window/ProgressBar.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

// The shown window with the given items in its list.
class ListEditing : public WindowTest {
protected:
    Form1& showWith(const QStringList& items)
    {
        Form1& shown = startForm();
        for (const QString& item : items)
            addSource(shown, item);
        shown.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&shown));
        return shown;
    }

    QWidget* surface() const { return form->ListView1->viewport(); }
    QPoint centreOf(int position) const
    {
        return form->ListView1->visualItemRect(form->ListView1->topLevelItem(position - 1)).center();
    }
    void press(int position, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(surface(), button, {}, centreOf(position));
    }
    void dragTo(int position) { QTest::mouseMove(surface(), centreOf(position)); }
    void release(int position, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseRelease(surface(), button, {}, centreOf(position));
    }
    int selectedPosition() const
    {
        const QModelIndexList rows = form->ListView1->selectionModel()->selectedRows();
        return rows.isEmpty() ? 0 : rows.front().row() + 1;
    }
    int firstVisiblePosition() const { return form->ListView1->indexAt(QPoint(2, 2)).row() + 1; }
    bool listHasOwnPointer() const { return form->ListView1->testAttribute(Qt::WA_SetCursor); }
};

// A move of the pointer with no button held.
void hover(QWidget* control)
{
    const QPoint at(2, 2);
    QMouseEvent move(QEvent::MouseMove, at, control->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(control, &move);
}

} // namespace

TEST_F(ListEditing, DraggingCarriesThePressedTextThroughTheListStepByStep)
{
    Form1& form = showWith({u"A"_s, u"B"_s, u"C"_s, u"D"_s});
    press(1);
    EXPECT_TRUE(form.DragActive);
    for (int position : {2, 3, 4})
        dragTo(position);
    EXPECT_EQ(listed(form), (QStringList{u"B"_s, u"C"_s, u"D"_s, u"A"_s}));
    EXPECT_EQ(selectedPosition(), 4);
    release(4);
    EXPECT_FALSE(form.DragActive);

    // Back up over a neighbour, then moves without the button do nothing.
    press(4);
    dragTo(3);
    release(3);
    hover(surface());
    EXPECT_EQ(listed(form), (QStringList{u"B"_s, u"C"_s, u"A"_s, u"D"_s}));

    // Equal texts are never swapped; a move beside the items swaps nothing.
    addSource(form, u"A"_s);
    press(3);
    dragTo(5);
    QTest::mouseMove(surface(), QPoint(5, surface()->height() - 3));
    dragTo(4);
    EXPECT_EQ(listed(form), (QStringList{u"B"_s, u"C"_s, u"D"_s, u"A"_s, u"A"_s}));
    EXPECT_EQ(selectedPosition(), 4);
    release(4);
}

TEST_F(ListEditing, ItemClickShowsTheDragImageUntilTheReleaseElseAClosedHand)
{
    writeFile(programFolder + u"/drag.ico"_s, pointerFile({24, 24}));
    Form1& form = showWith({u"A"_s, u"B"_s});
    EXPECT_FALSE(listHasOwnPointer());
    press(1);
    EXPECT_EQ(form.listPointer(), ListPointer::Custom);
    EXPECT_EQ(form.ListView1->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(form.ListView1->cursor().hotSpot(), QPoint(12, 12));
    release(1);
    EXPECT_EQ(form.listPointer(), ListPointer::Arrow);
    EXPECT_FALSE(listHasOwnPointer());

    // The image is read at every item click.
    ASSERT_TRUE(QFile::remove(programFolder + u"/drag.ico"_s));
    writeFile(programFolder + u"/drag.ico"_s, "no image");
    press(2);
    EXPECT_EQ(form.ListView1->cursor().shape(), Qt::ClosedHandCursor);
    release(2);
    // The right button presses without an item click.
    press(1, Qt::RightButton);
    EXPECT_TRUE(form.DragActive);
    EXPECT_FALSE(listHasOwnPointer());
    release(1, Qt::RightButton);
    EXPECT_TRUE(desktop.errorReports().isEmpty());
}

TEST_F(ListEditing, SwapsNearTheTopOrBottomOfTheScreenScrollTheNextItemIntoView)
{
    QStringList items;
    for (int i = 1; i <= 40; ++i)
        items << u"item %1"_s.arg(i);
    Form1& form = showWith(items);
    QTreeWidget* list = form.ListView1;
    const auto startWithAtTop = [&](int position) {
        list->scrollToItem(list->topLevelItem(position - 1), QAbstractItemView::PositionAtTop);
        ASSERT_EQ(firstVisiblePosition(), position);
    };

    // Swapping with item 4 at screen row 300 brings item 3 into view.
    startWithAtTop(4);
    desktop.setPointerRow(300);
    press(5);
    dragTo(4);
    EXPECT_EQ(firstVisiblePosition(), 3);
    release(4);

    // Between the rows nothing scrolls, nor does a move that swaps nothing.
    startWithAtTop(4);
    desktop.setPointerRow(330);
    press(5);
    dragTo(4);
    EXPECT_EQ(firstVisiblePosition(), 4);
    desktop.setPointerRow(300);
    dragTo(4);
    EXPECT_EQ(firstVisiblePosition(), 4);
    release(4);

    // From row 365 on, the item below the swapped one comes into view.
    startWithAtTop(1);
    const int lastVisible = list->indexAt(QPoint(2, surface()->height() - 2)).row() + 1;
    ASSERT_GT(lastVisible, 3);
    const int hiddenBelow = lastVisible + 1;
    ASSERT_TRUE(list->visualItemRect(list->topLevelItem(hiddenBelow - 1)).top() >= surface()->height());
    desktop.setPointerRow(365);
    press(lastVisible - 1);
    dragTo(lastVisible);
    EXPECT_GE(list->visualItemRect(list->topLevelItem(hiddenBelow - 1)).bottom(), 0);
    EXPECT_LE(list->visualItemRect(list->topLevelItem(hiddenBelow - 1)).bottom(), surface()->height());
    release(lastVisible);
}

TEST_F(ListEditing, DoubleClickAndDeleteWithAnyModifiersRemoveTheSelectedItem)
{
    Form1& form = showWith({u"A"_s, u"B"_s, u"C"_s, u"D"_s, u"E"_s});
    QTest::mouseClick(surface(), Qt::LeftButton, {}, centreOf(2));
    QTest::mouseDClick(surface(), Qt::LeftButton, {}, centreOf(2));
    QTest::mouseRelease(surface(), Qt::LeftButton, {}, centreOf(2));
    EXPECT_EQ(listed(form), (QStringList{u"A"_s, u"C"_s, u"D"_s, u"E"_s}));
    EXPECT_EQ(selectedPosition(), 0);

    for (Qt::KeyboardModifiers modifiers : {Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ShiftModifier),
                                            Qt::ControlModifier | Qt::AltModifier, Qt::KeyboardModifiers(Qt::KeypadModifier)}) {
        QTest::mouseClick(surface(), Qt::LeftButton, {}, centreOf(1));
        QTest::keyClick(form.ListView1, Qt::Key_Delete, modifiers);
    }
    EXPECT_TRUE(listed(form).isEmpty());
    // An empty list takes both gestures without a word.
    QTest::keyClick(form.ListView1, Qt::Key_Delete);
    QTest::mouseDClick(surface(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(surface(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(desktop.shown().empty());
}

TEST_F(ListEditing, NothingIsRemovedWhileBusyWithNothingSelectedOrByOtherKeys)
{
    Form1& form = showWith({u"A"_s, u"B"_s, u"C"_s});
    QTest::mouseClick(surface(), Qt::LeftButton, {}, centreOf(3));
    form.setMousePointer(MousePointer::Busy);
    QTest::keyClick(form.ListView1, Qt::Key_Delete);
    QTest::mouseDClick(surface(), Qt::LeftButton, {}, centreOf(3));
    QTest::mouseRelease(surface(), Qt::LeftButton, {}, centreOf(3));
    EXPECT_EQ(listed(form).size(), 3);
    // Dragging is not refused while busy, and leaves the hourglass.
    press(3);
    dragTo(2);
    release(2);
    EXPECT_EQ(listed(form), (QStringList{u"A"_s, u"C"_s, u"B"_s}));
    EXPECT_EQ(form.mousePointer(), MousePointer::Busy);
    form.setMousePointer(MousePointer::Default);

    QTest::keyClick(form.ListView1, Qt::Key_Backspace);
    EXPECT_EQ(listed(form).size(), 3);
    // A press beside the items deselects, so the key then removes nothing.
    QTest::mouseClick(surface(), Qt::LeftButton, {}, QPoint(5, surface()->height() - 3));
    QTest::keyClick(form.ListView1, Qt::Key_Delete);
    EXPECT_EQ(listed(form).size(), 3);
}

TEST_F(ListEditing, HandOverTheButtonsDefaultOverWindowFramesAndListBusyLeftAlone)
{
    Form1& form = showWith({u"A"_s});
    const QList<QWidget*> tracked{&form,
                                  form.Frame1,
                                  form.Frame2,
                                  surface(),
                                  form.PushButton1,
                                  form.PushButton2,
                                  form.PushButton3,
                                  form.PushButton4,
                                  form.PushButton5,
                                  form.PushButton6};
    for (const QWidget* control : tracked)
        EXPECT_TRUE(control->hasMouseTracking()) << control->objectName().toStdString();

    for (QPushButton* button :
         {form.PushButton1, form.PushButton2, form.PushButton3, form.PushButton4, form.PushButton5, form.PushButton6}) {
        hover(&form);
        ASSERT_EQ(form.mousePointer(), MousePointer::Default);
        hover(button);
        EXPECT_EQ(form.mousePointer(), MousePointer::Custom) << button->objectName().toStdString();
        EXPECT_EQ(form.cursor().shape(), Qt::PointingHandCursor);
    }
    // The box, the options and the bar leave the pointer as it was.
    for (QWidget* untouched : std::initializer_list<QWidget*>{form.Text1, form.Option1, form.Option2, form.ProgressBar1}) {
        hover(untouched);
        EXPECT_EQ(form.mousePointer(), MousePointer::Custom);
    }
    for (QWidget* surfaceOf : std::initializer_list<QWidget*>{form.Frame1, form.Frame2, surface()}) {
        hover(form.PushButton1);
        hover(surfaceOf);
        EXPECT_EQ(form.mousePointer(), MousePointer::Default);
    }

    form.setMousePointer(MousePointer::Busy);
    for (QWidget* control : tracked)
        hover(control);
    EXPECT_EQ(form.mousePointer(), MousePointer::Busy);
    form.setMousePointer(MousePointer::Default);
    hover(form.PushButton4);
    EXPECT_EQ(form.mousePointer(), MousePointer::Custom);
}
