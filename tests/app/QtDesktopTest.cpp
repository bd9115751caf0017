#include "window/QtDesktop.h"

#include "diagnostics/ApplicationTitle.h"
#include "diagnostics/Yield.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
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

// The box or dialog that is open now.
QDialog* openBox()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// Hands the next box to `answer`, which must close it.
class WhenShown {
public:
    explicit WhenShown(std::function<void(QWidget*)> answer) : m_answer(std::move(answer))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QWidget* box = openBox()) {
                m_timer.stop();
                m_seen = true;
                m_answer(box);
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
        keepApplicationTitle(u"Parcelon"_s);
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

TEST_F(DesktopBoxes, ShortBoxesShowTheirWholeTitleAndNoApplicationName)
{
    const QFontMetrics titleFont(QFontDatabase::systemFont(QFontDatabase::TitleFont));
    for (const QString& text : {u"Done."_s, u"No files added."_s}) {
        WhenShown shown([&](QWidget* box) {
            EXPECT_EQ(box->windowTitle(), u"Parcelon"_s);
            EXPECT_GE(box->width(), titleFont.horizontalAdvance(u"Parcelon"_s) + 120);
            box->close();
        });
        desktop.showMessage(text);
        EXPECT_TRUE(shown.seen());
    }
    WhenShown report([&](QWidget* box) {
        EXPECT_GE(box->width(), titleFont.horizontalAdvance(u"Application Error"_s) + 120);
        box->close();
    });
    desktop.showErrorReport(u"x"_s);
    // Qt appends a display name to every title, so there is none.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
}

namespace {

// A main window as the program's: closing it ends the program.
class MainWindow : public QWidget {
public:
    MainWindow()
    {
        button = new QPushButton(u"Start"_s, this);
        button->setAutoDefault(true);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
    }
    QPushButton* button;
    int clicks = 0;

protected:
    void closeEvent(QCloseEvent*) override { requestProgramEnd(); }
};

} // namespace

TEST_F(DesktopBoxes, ClosingTheMainWindowWhileABoxIsOpenEndsTheProgramAndTheBoxGoes)
{
    MainWindow window;
    desktop.setWindow(&window);
    window.show();
    const std::function<void()> boxes[] = {
        [&] { desktop.showErrorReport(u"x\r\nin y at line 1"_s); },
        [&] { desktop.showMessage(u"Done."_s); },
        [&] { desktop.askYesNo(u"Open the folder?"_s); },
        [&] { desktop.promptText(u"Extension"_s, u"Enter:"_s, u"pst"_s); },
        [&] { desktop.chooseOpenFiles(u"Add"_s, {u"PST Files (*.pst)"_s}, QDir::tempPath()); },
        [&] { desktop.chooseFolder(u"Please select folder:"_s, QDir::tempPath()); },
    };
    for (const auto& show : boxes) {
        clearProgramEnd();
        window.show();
        QStringList seen;
        WhenShown shown([&](QWidget* box) {
            // Not modal: Qt would drop the window manager's close of the main window.
            seen << QString::number(box->windowModality()) << QString::number(QApplication::activeModalWidget() != nullptr);
            // The main window's other input is held off.
            QTest::mouseClick(window.button, Qt::LeftButton);
            window.button->setFocus();
            QTest::keyClick(window.button, Qt::Key_Return);
            QTest::keyClick(window.button, Qt::Key_Space);
            window.close();
        });
        bool ended = false;
        try {
            show();
        } catch (const ProgramEnding& ending) {
            ended = ending.exitCode == 0;
        }
        EXPECT_TRUE(shown.seen());
        EXPECT_TRUE(ended);
        EXPECT_EQ(seen, (QStringList{u"0"_s, u"0"_s}));
        EXPECT_EQ(openBox(), nullptr);
        EXPECT_EQ(window.clicks, 0);
    }
    // Without a box the same keys press the focused button.
    clearProgramEnd();
    window.show();
    window.activateWindow();
    window.button->setFocus();
    QTest::keyClick(window.button, Qt::Key_Return);
    QTest::keyClick(window.button, Qt::Key_Enter);
    EXPECT_EQ(window.clicks, 2);
}
