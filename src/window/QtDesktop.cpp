#include "window/QtDesktop.h"

#include "diagnostics/ApplicationTitle.h"
#include "diagnostics/Yield.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QSpacerItem>
#include <QTime>
#include <QTimer>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

// While a box is open the main window takes no input but the window
// manager's close: the box is not modal, since Qt drops the close of a
// window that a modal box blocks. A press on the window brings the box
// forward instead, as a modal box would.
class InputHold : public QObject {
public:
    InputHold(QWidget* window, QWidget* box) : m_window(window), m_box(box)
    {
        if (m_window)
            qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_window || !watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != m_window)
            return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::WindowActivate:
            QTimer::singleShot(0, m_box, [box = m_box] {
                if (box && box->isVisible()) {
                    box->raise();
                    box->activateWindow();
                }
            });
            return event->type() != QEvent::WindowActivate;
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
        }
    }

private:
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_box;
};

// Shows the box and waits until it is closed; returns its result. Throws
// ProgramEnding when the main window is closed meanwhile.
int runBox(QWidget* window, QDialog& box)
{
    box.setWindowModality(Qt::NonModal);
    InputHold hold(window, &box);
    QEventLoop loop;
    QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
    box.show();
    box.raise();
    box.activateWindow();
    waitForBox(loop);
    return box.result();
}

// A box at least as wide as its title in the title bar's font and a margin
// for the title bar's buttons, so that a window manager shows the title whole.
void fitTitle(QMessageBox& box)
{
    constexpr int titleBarButtons = 120;
    const QFontMetrics title(QFontDatabase::systemFont(QFontDatabase::TitleFont));
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    grid->addItem(new QSpacerItem(title.horizontalAdvance(box.windowTitle()) + titleBarButtons, 0, QSizePolicy::Minimum,
                                  QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

// A box with plain text; returns the button that closed it.
QMessageBox::StandardButton showBox(QWidget* window, QMessageBox::Icon icon, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, title, QtDesktop::displayText(text), buttons, window);
    box.setTextFormat(Qt::PlainText);
    if (buttons.testFlag(QMessageBox::No)) {
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    fitTitle(box);
    runBox(window, box);
    // The close button answers with the escape button; anything else unknown is No.
    return box.standardButton(box.clickedButton());
}

} // namespace

// Seeded from the time of day, as the draw at start-up always was.
QtDesktop::QtDesktop() : m_random(static_cast<std::uint64_t>(QTime::currentTime().msecsSinceStartOfDay()))
{
}

QString QtDesktop::displayText(const QString& text)
{
    QString shown = text;
    shown.replace(u"\r\n"_s, u"\n"_s);
    shown.replace(u'\r', u'\n');
    return shown;
}

void QtDesktop::showMessage(const QString& text)
{
    if (programEnding())
        return;
    showBox(m_window, QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok);
}

bool QtDesktop::askYesNo(const QString& text)
{
    if (programEnding())
        return false;
    return showBox(m_window, QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

void QtDesktop::showErrorReport(const QString& text)
{
    if (programEnding())
        return;
    showBox(m_window, QMessageBox::Warning, u"Application Error"_s, text, QMessageBox::Ok);
}

QString QtDesktop::promptText(const QString& caption, const QString& prompt, const QString& defaultText)
{
    if (programEnding())
        return {};
    QInputDialog dialog(m_window);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(caption.isEmpty() ? applicationTitle() : caption);
    dialog.setLabelText(displayText(prompt));
    for (QLabel* label : dialog.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    dialog.setTextValue(defaultText);
    if (runBox(m_window, dialog) != QDialog::Accepted)
        return {};
    return dialog.textValue();
}

QStringList QtDesktop::chooseOpenFiles(const QString& title, const QStringList& filters, const QString& initialFolder)
{
    if (programEnding())
        return {};
    QFileDialog dialog(m_window, title, initialFolder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(filters);
    if (runBox(m_window, dialog) != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString QtDesktop::chooseFolder(const QString& prompt, const QString& initialFolder)
{
    if (programEnding())
        return {};
    QFileDialog dialog(m_window, prompt, initialFolder);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    if (runBox(m_window, dialog) != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

bool QtDesktop::openUrl(const QUrl& url)
{
    if (programEnding())
        return false;
    return QDesktopServices::openUrl(url);
}

double QtDesktop::randomDraw()
{
    // The top 53 bits as a fraction: uniform on [0, 1), never 1.
    return static_cast<double>(m_random() >> 11) * 0x1.0p-53;
}

int QtDesktop::pointerScreenRow()
{
    return QCursor::pos().y();
}

} // namespace parcelon
