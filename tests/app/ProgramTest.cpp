#include "testsupport/AppTestSupport.h"

#include "app/EventRoutes.h"
#include "app/FormLoad.h"
#include "app/Program.h"
#include "diagnostics/Failure.h"
#include "diagnostics/HandlerGuard.h"
#include "diagnostics/Steps.h"
#include "diagnostics/Yield.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

using Program = WindowTest;

TEST_F(Program, StartUpThatEndsTheProgramReturnsItsStatusWithoutShowingTheWindow)
{
    Form1& form = makeForm();
    bool shown = false;
    QTimer::singleShot(0, [&] {
        shown = form.isVisible();
        QApplication::exit(99);
    });
    const int status = startForm1(form, [](Form1&) { throw ProgramEnding{1}; });
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(shown);
    // The event loop never ran, so the timer is still due.
    QApplication::processEvents();
}

TEST_F(Program, WindowIsShownCentredAfterStartUpAndClosingEndsTheProgram)
{
    Form1& form = makeForm();
    bool shownCentred = false;
    QTimer::singleShot(0, [&] {
        const QPoint offCentre = form.frameGeometry().center() - form.screen()->availableGeometry().center();
        shownCentred = form.isVisible() && form.windowTitle() == u"Parcelon"_s && offCentre.manhattanLength() <= 2;
        form.close();
    });
    EXPECT_EQ(startForm1(form, Form_Load), 0);
    EXPECT_TRUE(shownCentred);
    EXPECT_TRUE(programEnding());
}

TEST_F(Program, ClosingDuringAYieldEndsTheHandlerThere)
{
    Form1& form = makeForm();
    int yields = 0;
    QTimer::singleShot(0, [&] {
        guardHandler(desktop, u"PushButton2_Click", [&] {
            QMetaObject::invokeMethod(&form, &QWidget::close, Qt::QueuedConnection);
            for (; yields < 1000; ++yields)
                yieldToWindowSystem();
        });
    });
    EXPECT_EQ(startForm1(form, Form_Load), 0);
    EXPECT_LT(yields, 1000);
    EXPECT_TRUE(desktop.shown().empty());
}

TEST_F(Program, ClosingWhileAReportIsOpenEndsTheHandlerThere)
{
    // The window is closed while each report is open, as the desktop's boxes
    // then answer.
    struct ClosedDuringReports : ScriptedDesktop {
        void showErrorReport(const QString& text) override
        {
            ScriptedDesktop::showErrorReport(text);
            requestProgramEnd();
            throw ProgramEnding{};
        }
    } closing;
    closing.tolerateErrorReports();
    Form1& form = makeForm();
    int stepsAfter = 0;
    QTimer::singleShot(0, [&] {
        // A handler without steps of its own, then one with them.
        guardHandler(closing, u"ListView1_MouseDown", [] { throw Failure(u"boom"_s); });
        EXPECT_TRUE(programEnding());
        clearProgramEnd();
        guardHandler(closing, u"PushButton2_Click", [&] {
            Steps steps(Location::PushButton2_Click, closing);
            steps.run(100, [] { throw Failure(u"disk full"_s); });
            ++stepsAfter;
            steps.run(102, [] { throw Failure(u"disk full"_s); });
        });
    });
    EXPECT_EQ(startForm1(form, [](Form1&) {}), 0);
    EXPECT_EQ(stepsAfter, 0);
    EXPECT_EQ(closing.errorReports().size(), 2);
    EXPECT_TRUE(programEnding());
}

TEST_F(Program, RoutedEventsReachTheirHandlersInsideTheHandlerEdge)
{
    Form1& form = makeForm();
    auto* item = new QTreeWidgetItem(QStringList{u"/mail/a.pst"_s});
    form.ListView1->addTopLevelItem(item);
    const QPoint onItem = form.ListView1->visualItemRect(item).center();
    QStringList seen;
    {
        EventRoutes routes(desktop, nullptr);
        routes.route(form.ListView1->viewport(), QEvent::MouseButtonPress, u"ListView1_MouseDown", [&](QEvent& event) {
            seen << u"press %1"_s.arg(static_cast<QMouseEvent&>(event).button());
            throw Failure(u"boom"_s);
        });
        desktop.expectErrorReport();
        QTest::mouseClick(form.ListView1->viewport(), Qt::LeftButton, {}, onItem);
        EXPECT_EQ(desktop.errorReports(), QStringList{u"boom\r\nin Tovarek2021/08/31.Form1.ListView1_MouseDown at line 0"_s});
        // The list still had the press.
        EXPECT_TRUE(item->isSelected());
    }
    item->setSelected(false);
    EventRoutes routes(desktop, nullptr);
    routes.route(
        form.ListView1->viewport(), QEvent::MouseButtonPress, u"First", [&](QEvent&) { seen << u"kept"_s; },
        EventRoutes::Delivery::Consume);
    routes.route(form.ListView1->viewport(), QEvent::MouseButtonRelease, u"Second", [&](QEvent&) { seen << u"release"_s; });
    QTest::mouseClick(form.ListView1->viewport(), Qt::LeftButton, {}, onItem);
    EXPECT_EQ(seen, (QStringList{u"press 1"_s, u"kept"_s, u"release"_s}));
    EXPECT_FALSE(item->isSelected());
}
