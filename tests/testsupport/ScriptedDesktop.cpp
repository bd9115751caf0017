#include "testsupport/ScriptedDesktop.h"

#include <gtest/gtest.h>

namespace parcelon::test {

const char* shownName(Shown kind)
{
    switch (kind) {
    case Shown::Message:
        return "message";
    case Shown::Question:
        return "question";
    case Shown::ErrorReport:
        return "error report";
    case Shown::Prompt:
        return "prompt";
    case Shown::OpenFiles:
        return "open-file dialog";
    case Shown::Folder:
        return "folder picker";
    case Shown::OpenUrl:
        return "open request";
    }
    return "?";
}

ScriptedDesktop::~ScriptedDesktop()
{
    EXPECT_TRUE(m_script.empty()) << m_script.size() << " scripted answer(s) were never asked for, the first a "
                                  << (m_script.empty() ? "" : shownName(m_script.front().kind));
}

void ScriptedDesktop::expectMessage()
{
    m_script.push_back({Shown::Message});
}

void ScriptedDesktop::expectErrorReport()
{
    m_script.push_back({Shown::ErrorReport});
}

void ScriptedDesktop::answerQuestion(bool yes)
{
    m_script.push_back({Shown::Question, yes});
}

void ScriptedDesktop::answerPrompt(const QString& answer)
{
    m_script.push_back({Shown::Prompt, false, answer});
}

void ScriptedDesktop::answerOpenFiles(const QStringList& paths)
{
    m_script.push_back({Shown::OpenFiles, false, {}, paths});
}

void ScriptedDesktop::answerFolder(const QString& folder)
{
    m_script.push_back({Shown::Folder, false, folder});
}

QStringList ScriptedDesktop::texts(Shown kind) const
{
    QStringList result;
    for (const auto& interaction : m_shown)
        if (interaction.kind == kind)
            result << interaction.text;
    return result;
}

void ScriptedDesktop::clear()
{
    m_script.clear();
    m_shown.clear();
}

const ScriptedDesktop::Step* ScriptedDesktop::take(const Interaction& interaction)
{
    m_shown.push_back(interaction);
    if (m_script.empty() || m_script.front().kind != interaction.kind) {
        ADD_FAILURE() << "unexpected " << shownName(interaction.kind) << ": " << interaction.text.toStdString()
                      << (m_script.empty() ? std::string(" (nothing scripted)")
                                           : std::string(" (the script expects a ") + shownName(m_script.front().kind) + ")");
        return nullptr;
    }
    m_current = m_script.front();
    m_script.pop_front();
    return &m_current;
}

void ScriptedDesktop::showMessage(const QString& text)
{
    if (m_tolerateMessages && (m_script.empty() || m_script.front().kind != Shown::Message)) {
        m_shown.push_back({Shown::Message, text});
        return;
    }
    take({Shown::Message, text});
}

bool ScriptedDesktop::askYesNo(const QString& text)
{
    const Step* step = take({Shown::Question, text});
    return step && step->yes;
}

void ScriptedDesktop::showErrorReport(const QString& text)
{
    if (m_tolerateReports && (m_script.empty() || m_script.front().kind != Shown::ErrorReport)) {
        m_shown.push_back({Shown::ErrorReport, text});
        return;
    }
    take({Shown::ErrorReport, text});
}

QString ScriptedDesktop::promptText(const QString& caption, const QString& prompt, const QString& defaultText)
{
    const Step* step = take({Shown::Prompt, prompt, caption, defaultText});
    return step ? step->text : QString();
}

QStringList ScriptedDesktop::chooseOpenFiles(const QString& title, const QStringList& filters, const QString& initialFolder)
{
    const Step* step = take({Shown::OpenFiles, title, {}, initialFolder, filters});
    return step ? step->paths : QStringList();
}

QString ScriptedDesktop::chooseFolder(const QString& prompt, const QString& initialFolder)
{
    const Step* step = take({Shown::Folder, prompt, {}, initialFolder});
    return step ? step->text : QString();
}

bool ScriptedDesktop::openUrl(const QUrl& url)
{
    m_shown.push_back({Shown::OpenUrl, url.toString()});
    return m_openUrlResult;
}

} // namespace parcelon::test
