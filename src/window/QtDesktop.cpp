#include "window/QtDesktop.h"

#include "diagnostics/Yield.h"

#include <QCursor>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTime>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

QString applicationTitle()
{
    return QGuiApplication::applicationDisplayName();
}

// A modal box with plain text; returns the button that closed it.
QMessageBox::StandardButton showBox(QWidget* window, QMessageBox::Icon icon, const QString& title,
                                    const QString& text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, title, QtDesktop::displayText(text), buttons, window);
    box.setTextFormat(Qt::PlainText);
    if (buttons.testFlag(QMessageBox::No)) {
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    box.exec();
    // The close button answers with the escape button; anything else unknown is No.
    return box.standardButton(box.clickedButton());
}

} // namespace

// Seeded from the time of day, as the draw at start-up always was.
QtDesktop::QtDesktop() : m_random(static_cast<std::uint64_t>(QTime::currentTime().msecsSinceStartOfDay())) {}

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
    if (dialog.exec() != QDialog::Accepted)
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
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString QtDesktop::chooseFolder(const QString& prompt, const QString& initialFolder)
{
    if (programEnding())
        return {};
    return QFileDialog::getExistingDirectory(m_window, prompt, initialFolder,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
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
