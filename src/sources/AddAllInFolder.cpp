#include "sources/AddAllInFolder.h"

#include "diagnostics/ApplicationTitle.h"
#include "diagnostics/Desktop.h"
#include "diagnostics/Steps.h"
#include "fs/FolderPicker.h"
#include "sources/FolderHarvest.h"
#include "window/Form1.h"
#include "window/Settings.h"

namespace parcelon {

using namespace Qt::StringLiterals;

void PushButton4_Click(Form1& form)
{
    Steps steps(Location::PushButton4_Click, form.desktop());
    Settings& settings = form.settings();
    QString answer;
    steps.assign(100, answer, [&] {
        return form.desktop().promptText(
            applicationTitle(),
            u"Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc files, etc.)"_s,
            settings.read(SettingsKey::Extension, u"pst"_s));
    });
    steps.run(100, [&] {
        if (!answer.isEmpty())
            settings.write(SettingsKey::Extension, answer);
    });
    if (steps.test(102, [&] { return answer.isEmpty(); }))
        return;

    steps.assign(104, form.LastFolder, [&] { return settings.read(SettingsKey::LastFolder, QString()); });
    QString chosen;
    steps.assign(104, chosen, [&] {
        return BrowseForFolder(form.desktop(), u"Please select folder:"_s, form.LastFolder, form.environment().homeFolder());
    });
    if (steps.test(106, [&] { return chosen.isEmpty(); }))
        return;
    steps.run(333, [&] { form.LastFolder = chosen; });
    steps.run(334, [&] { settings.write(SettingsKey::LastFolder, chosen); });

    steps.run(112, [&] { form.setMousePointer(MousePointer::Busy); });
    harvestFolderTree(form, chosen, u"*."_s + answer, steps);
    steps.run(136, [&] { form.setMousePointer(MousePointer::Default); });
}

} // namespace parcelon
