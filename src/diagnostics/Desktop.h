#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace parcelon {

// The program's one narrow interface to everything modal or outside it:
// message boxes, questions, the text prompt, the open-file dialog, the
// folder picker, the shell, the random draw and the pointer's screen row.
// Texts are passed exactly as the program words them (bare CR and CR LF
// line breaks included); only an implementation turns them into widgets.
class Desktop {
public:
    virtual ~Desktop() = default;

    // A plain message: OK button, no icon, the application title as caption.
    virtual void showMessage(const QString& text) = 0;

    // A question with Yes and No, no icon, the application title as caption.
    // Escape and the close button answer No.
    virtual bool askYesNo(const QString& text) = 0;

    // The error report: title "Application Error", warning icon, OK only.
    virtual void showErrorReport(const QString& text) = 0;

    // A text prompt with an editable default; cancel gives the empty text.
    virtual QString promptText(const QString& caption, const QString& prompt, const QString& defaultText) = 0;

    // The open-file dialog with multiple selection. `filters` are Qt name
    // filters ("PST Files (*.pst)"). Returns the chosen full paths in the
    // order the dialog gives them, or nothing when cancelled.
    virtual QStringList chooseOpenFiles(const QString& title, const QStringList& filters, const QString& initialFolder) = 0;

    // The folder picker: directories only. Returns the chosen folder, or the
    // empty text when cancelled.
    virtual QString chooseFolder(const QString& prompt, const QString& initialFolder) = 0;

    // Asks the desktop to open a location (a web address, a folder).
    virtual bool openUrl(const QUrl& url) = 0;

    // A number drawn uniformly from [0, 1), from a generator seeded with the
    // seconds since midnight.
    virtual double randomDraw() = 0;

    // The pointer's position on the screen: its row in logical pixels.
    virtual int pointerScreenRow() = 0;
};

} // namespace parcelon
