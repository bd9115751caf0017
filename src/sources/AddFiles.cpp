#include "sources/AddFiles.h"

#include "diagnostics/Desktop.h"
#include "diagnostics/Steps.h"
#include "fs/Paths.h"
#include "sources/SourceList.h"
#include "window/Form1.h"

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {
// The dialog opens at the home folder the first time, then where the user left it.
bool g_dialogUsed = false;
} // namespace

void PushButton1_Click(Form1& form)
{
    Steps steps(Location::PushButton1_Click, form.desktop());
    QStringList chosen;
    steps.assign(112, chosen, [&] {
        const QString initialFolder = g_dialogUsed ? QString() : form.environment().homeFolder();
        g_dialogUsed = true;
        return form.desktop().chooseOpenFiles(u"Add File(s) - Hold Ctrl to select multiple files"_s,
                                              {u"PST Files (*.pst)"_s, u"All Files (*)"_s}, initialFolder);
    });
    if (steps.test(114, [&] { return chosen.isEmpty(); }))
        return;
    if (steps.test(118, [&] { return chosen.size() == 1; })) {
        QString path;
        steps.assign(120, path, [&] { return chosen.front(); });
        steps.run(122, [&] { addSource(form, path); });
        return;
    }
    if (steps.test(124, [&] { return chosen.size() > 1; })) {
        steps.forCount(
            134, 142, [&] { return chosen.size(); },
            [&](qsizetype index) {
                QString path;
                steps.assign(136, path, [&] { return chosen.at(index - 1); });
                steps.assign(138, path, [&] { return CollapseBackslashes(path); });
                steps.run(140, [&] { addSource(form, path); });
            });
    }
}

} // namespace parcelon
