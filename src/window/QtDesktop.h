#pragma once

#include "diagnostics/Desktop.h"

#include <QPointer>
#include <QWidget>

#include <random>

namespace parcelon {

// The desktop as Qt shows it: Qt's own message boxes and dialogs (never the
// platform's), texts shown as plain text with CR and CR LF as line breaks.
// Each waits until it is closed, and the main window takes no other input
// meanwhile; closing the main window while one is open throws
// ProgramEnding. Once the program is ending it shows nothing and every
// question answers No.
class QtDesktop : public Desktop {
public:
    QtDesktop();

    // The window that dialogs belong to.
    void setWindow(QWidget* window) { m_window = window; }

    void showMessage(const QString& text) override;
    bool askYesNo(const QString& text) override;
    void showErrorReport(const QString& text) override;
    QString promptText(const QString& caption, const QString& prompt, const QString& defaultText) override;
    QStringList chooseOpenFiles(const QString& title, const QStringList& filters, const QString& initialFolder) override;
    QString chooseFolder(const QString& prompt, const QString& initialFolder) override;
    bool openUrl(const QUrl& url) override;
    double randomDraw() override;
    int pointerScreenRow() override;

    // The text as a widget shows it: CR LF and bare CR become line breaks.
    static QString displayText(const QString& text);

private:
    QPointer<QWidget> m_window;
    std::mt19937_64 m_random;
};

} // namespace parcelon
