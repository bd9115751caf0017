#include "sources/ClearList.h"

#include "diagnostics/Steps.h"
#include "window/Form1.h"

#include <QTreeWidget>

namespace parcelon {

void PushButton3_Click(Form1& form)
{
    Steps steps(Location::PushButton3_Click, form.desktop());
    if (steps.test(100, [&] { return form.isBusy(); }))
        return;
    steps.run(100, [&] { form.ListView1->clear(); });
}

} // namespace parcelon
