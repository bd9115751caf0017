#include "app/OutputFolder.h"

#include "diagnostics/Steps.h"
#include "fs/FolderPicker.h"
#include "fs/Paths.h"
#include "window/Form1.h"
#include "window/Settings.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include <exception>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

void saveOptionClick(Form1& form)
{
    // A store that cannot be written is told once; the frame follows the
    // option all the same.
    std::exception_ptr failure;
    const auto store = [&](QStringView key, const QRadioButton* option) {
        try {
            form.settings().writeReportingOnce(key, Settings::booleanText(option->isChecked()));
        } catch (const std::exception&) {
            if (!failure)
                failure = std::current_exception();
        }
    };
    store(SettingsKey::Option1, form.Option1);
    store(SettingsKey::Option2, form.Option2);
    form.Frame2->setEnabled(form.Option1->isChecked());
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

void Option1_Click(Form1& form)
{
    saveOptionClick(form);
}

void Option2_Click(Form1& form)
{
    saveOptionClick(form);
}

void Text1_Change(Form1& form)
{
    form.settings().writeReportingOnce(SettingsKey::Text1, form.Text1->text());
}

void PushButton6_Click(Form1& form)
{
    Steps steps(Location::PushButton6_Click, form.desktop());
    steps.assign(100, form.LastFolderDot, [&] { return form.settings().read(SettingsKey::LastFolderDot, QString()); });
    QString chosen;
    steps.assign(100, chosen, [&] {
        return BrowseForFolder(form.desktop(), u"Please select folder:"_s, form.LastFolderDot, form.environment().homeFolder());
    });
    if (steps.test(102, [&] { return chosen.isEmpty(); }))
        return;
    steps.run(104, [&] { form.LastFolderDot = chosen; });
    steps.run(104, [&] { form.settings().write(SettingsKey::LastFolderDot, chosen); });
    if (steps.test(106, [&] { return !chosen.endsWith(kSeparator); }))
        steps.run(108, [&] { form.Text1->setText(chosen + kSeparator); });
    else
        steps.run(110, [&] { form.Text1->setText(chosen); });
}

} // namespace parcelon
