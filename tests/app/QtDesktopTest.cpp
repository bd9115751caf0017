#include "window/QtDesktop.h"

#include "diagnostics/Yield.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace parcelon;
using namespace Qt::StringLiterals;

namespace {

// Hands the next modal window to `answer`, which must close it.
class WhenShown {
public:
    explicit WhenShown(std::function<void(QWidget*)> answer) : m_answer(std::move(answer))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                m_timer.stop();
                m_seen = true;
                m_answer(modal);
            }
        });
        m_timer.start(5);
    }
    bool seen() const { return m_seen; }

private:
    std::function<void(QWidget*)> m_answer;
    QTimer m_timer;
    bool m_seen = false;
};

class DesktopBoxes : public ::testing::Test {
protected:
    DesktopBoxes()
    {
        clearProgramEnd();
        QGuiApplication::setApplicationDisplayName(u"Parcelon"_s);
    }
    ~DesktopBoxes() override { clearProgramEnd(); }

    // The box that `show` brings up, as text, title, icon and buttons.
    QStringList shownBox(const std::function<void()>& show)
    {
        QStringList seen;
        WhenShown shown([&](QWidget* window) {
            auto* box = qobject_cast<QMessageBox*>(window);
            ASSERT_TRUE(box);
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            seen << box->text() << box->windowTitle() << QString::number(box->icon())
                 << QString::number(box->standardButtons().toInt(), 16);
            QTest::keyClick(box, Qt::Key_Escape);
        });
        show();
        EXPECT_TRUE(shown.seen());
        return seen;
    }

    QtDesktop desktop;
};

} // namespace

TEST_F(DesktopBoxes, MessagesAndReportsArePlainTextWithLineBreaksUnderTheirTitles)
{
    EXPECT_EQ(shownBox([&] { desktop.showMessage(u"<b>a.pst</b>\r\rDone.\r\nNext"_s); }),
              (QStringList{u"<b>a.pst</b>\n\nDone.\nNext"_s, u"Parcelon"_s, u"0"_s, u"400"_s}));
    EXPECT_EQ(shownBox([&] { desktop.showErrorReport(u"x\r\nin y at line 1"_s); }),
              (QStringList{u"x\nin y at line 1"_s, u"Application Error"_s, u"2"_s, u"400"_s}));
}

TEST_F(DesktopBoxes, QuestionAnswersYesOnlyWhenYesIsChosen)
{
    const std::function<void(QMessageBox*)> answers[] = {
        [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); },
        [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); },
        [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); },
        [](QMessageBox* box) { box->close(); },
        [](QMessageBox* box) { box->button(QMessageBox::No)->click(); },
    };
    std::vector<bool> results;
    for (const auto& answer : answers) {
        WhenShown shown([&](QWidget* window) { answer(qobject_cast<QMessageBox*>(window)); });
        results.push_back(desktop.askYesNo(u"Open the folder?"_s));
    }
    EXPECT_EQ(results, (std::vector<bool>{true, true, false, false, false}));
}

TEST_F(DesktopBoxes, PromptShowsPlainTextAndCancelGivesNothing)
{
    WhenShown typed([](QWidget* window) {
        auto* dialog = qobject_cast<QInputDialog*>(window);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->windowTitle(), u"Extension"_s);
        EXPECT_EQ(dialog->labelText(), u"Enter <i>extension</i>:\n\ne.g. pst"_s);
        for (const QLabel* label : dialog->findChildren<QLabel*>())
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_EQ(dialog->textValue(), u"pst"_s);
        dialog->findChild<QLineEdit*>()->setText(u"ost"_s);
        dialog->accept();
    });
    EXPECT_EQ(desktop.promptText(u"Extension"_s, u"Enter <i>extension</i>:\r\re.g. pst"_s, u"pst"_s), u"ost"_s);
    WhenShown cancelled([](QWidget* window) { qobject_cast<QDialog*>(window)->reject(); });
    EXPECT_EQ(desktop.promptText(u"Extension"_s, u"Enter:"_s, u"pst"_s), QString());
}

TEST_F(DesktopBoxes, NothingIsShownOnceTheProgramEnds)
{
    requestProgramEnd();
    WhenShown shown([](QWidget* window) { window->close(); });
    desktop.showMessage(u"late"_s);
    desktop.showErrorReport(u"late"_s);
    EXPECT_FALSE(desktop.askYesNo(u"late?"_s));
    EXPECT_EQ(desktop.promptText(u"c"_s, u"p"_s, u"d"_s), QString());
    EXPECT_TRUE(desktop.chooseOpenFiles(u"t"_s, {}, {}).isEmpty());
    EXPECT_EQ(desktop.chooseFolder(u"p"_s, {}), QString());
    EXPECT_FALSE(desktop.openUrl(QUrl(u"https://parcelon.example/"_s)));
    QTest::qWait(20);
    EXPECT_FALSE(shown.seen());
}
