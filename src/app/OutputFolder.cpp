#include "app/OutputFolder.h"

#include "app/Form1.h"
#include "app/Settings.h"

#include <QLineEdit>

namespace parcelon {

void Text1_Change(Form1& form)
{
    form.settings().writeReportingOnce(SettingsKey::Text1, form.Text1->text());
}

} // namespace parcelon
