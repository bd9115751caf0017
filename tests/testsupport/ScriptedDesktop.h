#pragma once

#include "diagnostics/Desktop.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

namespace parcelon::test {

// What the program showed or asked through the desktop.
enum class Shown { Message, Question, ErrorReport, Prompt, OpenFiles, Folder, OpenUrl };

struct Interaction {
    Shown kind;
    QString text = {};        // message, question, report or prompt text; the dialog title; the URL
    QString caption = {};     // the prompt's caption
    QString defaultText = {}; // the prompt's default; the dialog's initial folder
    QStringList filters = {}; // the open-file dialog's filters
};

// A desktop for tests: it answers from a script, records everything shown,
// and fails the running test when something appears that the script does
// not expect. Error reports and messages need a script entry too, unless
// the test tolerates them (then they are only recorded).
class ScriptedDesktop : public Desktop {
public:
    ~ScriptedDesktop() override;

    void expectMessage();
    void expectErrorReport();
    void answerQuestion(bool yes);
    void answerPrompt(const QString& answer);
    void answerOpenFiles(const QStringList& paths);
    void answerFolder(const QString& folder);

    void tolerateErrorReports(bool tolerate = true) { m_tolerateReports = tolerate; }
    void tolerateMessages(bool tolerate = true) { m_tolerateMessages = tolerate; }

    void setRandomDraw(double value) { m_random = value; }
    void setPointerRow(int row) { m_pointerRow = row; }
    void setOpenUrlResult(bool result) { m_openUrlResult = result; }

    const std::vector<Interaction>& shown() const { return m_shown; }
    QStringList texts(Shown kind) const;
    QStringList errorReports() const { return texts(Shown::ErrorReport); }
    QStringList messages() const { return texts(Shown::Message); }

    // True when every scripted entry was used.
    bool scriptDone() const { return m_script.empty(); }
    void clear();

    void showMessage(const QString& text) override;
    bool askYesNo(const QString& text) override;
    void showErrorReport(const QString& text) override;
    QString promptText(const QString& caption, const QString& prompt, const QString& defaultText) override;
    QStringList chooseOpenFiles(const QString& title, const QStringList& filters, const QString& initialFolder) override;
    QString chooseFolder(const QString& prompt, const QString& initialFolder) override;
    bool openUrl(const QUrl& url) override;
    double randomDraw() override { return m_random; }
    int pointerScreenRow() override { return m_pointerRow; }

private:
    struct Step {
        Shown kind;
        bool yes = false;
        QString text = {};
        QStringList paths = {};
    };

    // Records the interaction and takes the next scripted step, which must be
    // of that kind; a step of another kind or an empty script fails the test.
    const Step* take(const Interaction& interaction);

    std::deque<Step> m_script;
    Step m_current;
    std::vector<Interaction> m_shown;
    bool m_tolerateReports = false;
    bool m_tolerateMessages = false;
    double m_random = 0.5;
    int m_pointerRow = 330;
    bool m_openUrlResult = true;
};

const char* shownName(Shown kind);

} // namespace parcelon::test
