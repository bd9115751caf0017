#include "sources/FolderHarvest.h"

#include "app/Form1.h"
#include "diagnostics/Steps.h"
#include "fs/FileAttributes.h"
#include "fs/FileListing.h"
#include "fs/FolderExpansion.h"
#include "fs/Paths.h"
#include "sources/SourceList.h"

#include <QStringList>

#include <utility>

namespace parcelon {

namespace {

constexpr int kArchiveHidden = Attribute::Archive | Attribute::Hidden;

// The numbered steps of the calling command, or plain calls that let a
// failure through when there are none.
class HarvestSteps {
public:
    explicit HarvestSteps(Steps* steps) : m_steps(steps) {}

    template <class Action>
    void run(int line, Action&& action)
    {
        if (m_steps)
            m_steps->run(line, std::forward<Action>(action));
        else
            action();
    }

    template <class T, class Action>
    void assign(int line, T& target, Action&& action)
    {
        if (m_steps)
            m_steps->assign(line, target, std::forward<Action>(action));
        else
            target = action();
    }

    template <class Condition>
    bool test(int line, Condition&& condition)
    {
        return m_steps ? m_steps->test(line, std::forward<Condition>(condition)) : bool(condition());
    }

    template <class Bound, class Body>
    void forCount(int headLine, int nextLine, Bound&& bound, Body&& body)
    {
        if (m_steps) {
            m_steps->forCount(headLine, nextLine, std::forward<Bound>(bound), std::forward<Body>(body));
            return;
        }
        const auto last = bound();
        for (std::decay_t<decltype(last)> counter = 1; counter <= last; ++counter)
            body(counter);
    }

private:
    Steps* m_steps;
};

} // namespace

void harvestFolderTree(Form1& form, const QString& folder, const QString& pattern, Steps* numbered)
{
    HarvestSteps steps(numbered);
    QStringList folders;
    steps.run(114, [&] { folders = QStringList{folder + kSeparator}; });
    steps.run(116, [&] { GetSubDirectories2016(folders, true, form.desktop()); });
    steps.forCount(118, 134, [&] { return folders.size(); }, [&](qsizetype position) {
        QString current = folders.at(position - 1);
        steps.run(120, [&] { current.chop(1); });
        QStringList names;
        steps.assign(122, names, [&] { return ListFilesInFolder(current, pattern); });
        steps.forCount(124, 134, [&] { return names.size(); }, [&](qsizetype index) {
            const QString& name = names.at(index - 1);
            if (steps.test(126, [&] { return name.startsWith(u'~'); }))
                return;
            QString path;
            steps.assign(128, path, [&] { return current + kSeparator + name; });
            if (steps.test(132, [&] { return IsExistingFile(path) && FileAttributes(path) != kArchiveHidden; }))
                steps.run(132, [&] { addSource(form, CollapseBackslashes(path)); });
        });
    });
}

} // namespace parcelon
