#include "diagnostics/Steps.h"
#include "diagnostics/ErrorReport.h"
#include "diagnostics/Yield.h"
#include "testsupport/ScriptedDesktop.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

using namespace parcelon;
using parcelon::test::ScriptedDesktop;

namespace {

const QString kAddress = kSupportAddress.toString();

[[noreturn]] void fail(const char* text)
{
    throw Failure(QString::fromUtf8(text));
}

} // namespace

TEST(ErrorReport, ShortFormEndsAtTheStepNumber)
{
    EXPECT_EQ(errorReportText(QStringLiteral("Disk full"), Location::GetMailItems.text, Location::GetMailItems.form, 148),
              QStringLiteral("Disk full\r\nin Tovarek2021/08/31.Form1.GetMailItems at line 148"));
}

TEST(ErrorReport, LongFormAddsTheRequestAfterTwoCarriageReturns)
{
    EXPECT_EQ(errorReportText(QStringLiteral("x"), Location::SetNewAttachnentName.text, Location::SetNewAttachnentName.form, 110),
              QStringLiteral("x\r\nin Tovarek2021/08/31.Form1.SetNewAttachnentName at line 110\r\r"
                             "Please email screenshot of this message to ")
                  + kAddress);
    EXPECT_EQ(Location::GetSubDirectories2016.text, QStringLiteral("in DunmoreTitle2021/08/31.AddFolder.GetSubDirectories2016 "));
    EXPECT_EQ(Location::GetSubDirectories2016.form, ReportForm::Long);
    EXPECT_EQ(Location::PushButton6_Click.form, ReportForm::Short);
    EXPECT_EQ(handlerLocationText(u"ListView1_OLEDragDrop"), QStringLiteral("in Tovarek2021/08/31.Form1.ListView1_OLEDragDrop "));
}

TEST(Steps, FailedActionIsReportedAndTheNextOneRuns)
{
    ScriptedDesktop desktop;
    desktop.expectErrorReport();
    Steps steps(Location::Form_Load, desktop);
    std::vector<int> ran;
    EXPECT_FALSE(steps.run(102, [&] { fail("caption refused"); }));
    EXPECT_TRUE(steps.run(102, [&] { ran.push_back(2); }));
    EXPECT_TRUE(steps.run(104, [&] { ran.push_back(4); }));
    EXPECT_EQ(ran, (std::vector<int>{2, 4}));
    ASSERT_EQ(desktop.errorReports().size(), 1);
    EXPECT_EQ(desktop.errorReports().front(),
              QStringLiteral("caption refused\r\nin Tovarek2021/08/31.Form1.Form_Load at line 102"));
}

TEST(Steps, FailedAssignmentKeepsTheOldValue)
{
    ScriptedDesktop desktop;
    desktop.expectErrorReport();
    Steps steps(Location::Form_Load, desktop);
    QString text = QStringLiteral("before");
    EXPECT_FALSE(steps.assign(132, text, [&]() -> QString { fail("no desktop"); }));
    EXPECT_EQ(text, QStringLiteral("before"));
    EXPECT_TRUE(steps.assign(132, text, [] { return QStringLiteral("after"); }));
    EXPECT_EQ(text, QStringLiteral("after"));
}

TEST(Steps, FailedBranchTestCountsAsTaken)
{
    ScriptedDesktop desktop;
    desktop.expectErrorReport();
    Steps steps(Location::Form_Load, desktop);
    EXPECT_TRUE(steps.test(138, [&]() -> bool { fail("unreadable"); }));
    EXPECT_FALSE(steps.test(138, [] { return false; }));
}

TEST(Steps, FailedLoopHeadMakesTheLoopEmpty)
{
    ScriptedDesktop desktop;
    desktop.expectErrorReport();
    Steps steps(Location::GetMailItems, desktop);
    int bodies = 0;
    steps.forCount(
        102, 154, [&]() -> int { fail("no folders"); }, [&](int) { ++bodies; });
    EXPECT_EQ(bodies, 0);
    ASSERT_EQ(desktop.errorReports().size(), 1);
    EXPECT_TRUE(desktop.errorReports().front().endsWith(QStringLiteral("at line 102")));
}

TEST(Steps, FailureInsideALoopGoesOnWithTheNextTurn)
{
    ScriptedDesktop desktop;
    desktop.expectErrorReport();
    desktop.expectErrorReport();
    Steps steps(Location::GetMailItems, desktop);
    std::vector<int> saved;
    steps.forCount(
        138, 150, [] { return 4; },
        [&](int k) {
            steps.run(148, [&] {
                if (k % 2 == 0)
                    throw std::runtime_error("cannot save");
                saved.push_back(k);
            });
        });
    EXPECT_EQ(saved, (std::vector<int>{1, 3}));
    EXPECT_EQ(desktop.errorReports(),
              QStringList(2, QStringLiteral("cannot save\r\nin Tovarek2021/08/31.Form1.GetMailItems at line 148")));
}

TEST(Steps, ProgramEndingIsNoFailure)
{
    ScriptedDesktop desktop;
    Steps steps(Location::GetMailItems, desktop);
    EXPECT_THROW(steps.run(104, [] { throw ProgramEnding{}; }), ProgramEnding);
    EXPECT_TRUE(desktop.errorReports().isEmpty());
}

TEST(Steps, UnguardedStepsLetTheFirstFailureThrough)
{
    ScriptedDesktop desktop;
    Steps steps = Steps::unguarded(desktop);
    std::vector<int> ran;
    EXPECT_THROW(steps.forCount(
                     102, 154, [] { return 3; },
                     [&](int i) {
                         steps.run(104, [&] {
                             if (i == 2)
                                 fail("unreadable");
                             ran.push_back(i);
                         });
                     }),
                 Failure);
    EXPECT_EQ(ran, std::vector<int>{1});
    EXPECT_TRUE(desktop.errorReports().isEmpty());
}
