#include "extraction/Run.h"

#include "diagnostics/Desktop.h"
#include "diagnostics/Steps.h"
#include "diagnostics/Yield.h"
#include "extraction/Session.h"
#include "fs/Paths.h"
#include "sources/SourceList.h"
#include "window/Form1.h"
#include "window/ProgressBar.h"

#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>
#include <cmath>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

// The bar's value for file `counter` of `count`, on its 0 to 100 scale.
int progressValue(std::int64_t counter, int count)
{
    const double value = count > 0 ? double(counter) / double(count) * 100.0 : 100.0;
    return static_cast<int>(std::lround(std::clamp(value, 0.0, 100.0)));
}

} // namespace

void PushButton2_Click(Form1& form)
{
    Steps steps(Location::PushButton2_Click, form.desktop());
    if (steps.test(100, [&] { return form.RunInProgress; }))
        return;
    steps.run(102, [&] { form.RunInProgress = true; });
    if (steps.test(104, [&] { return sourceCount(form) == 0; })) {
        steps.run(138, [&] { form.desktop().showMessage(u"No files added."_s); });
    } else if (!steps.test(106, [&] { return FolderExists(form.Text1->text()) || form.Option2->isChecked(); })) {
        steps.run(136, [&] { form.desktop().showMessage(u"Folder does not exist. Please select another folder."_s); });
    } else {
        steps.forCount(
            108, 126, [&] { return std::int64_t(sourceCount(form)); },
            [&](std::int64_t counter) {
                steps.run(110, [] { yieldToWindowSystem(); });
                steps.run(112, [&] { form.setMousePointer(MousePointer::Busy); });
                steps.run(114, [&] { form.ProgressBar1->setValue(progressValue(counter, sourceCount(form))); });
                // An entry removed during the run leaves a position that no longer exists.
                if (counter > sourceCount(form))
                    return;
                QString current;
                steps.assign(116, current, [&] { return sourceText(form, static_cast<int>(counter)); });
                steps.run(118, [&] { form.CurrentSourceFile = sourceText(form, static_cast<int>(counter)); });
                steps.run(120, [&] { form.ProgressBar1->setText(u"Processing: "_s + FileNameOfPath(current)); });
                steps.run(122, [] { yieldToWindowSystem(); });
                steps.run(124, [&] { ExtractAttachmentFromPST(form, current); });
            });
        steps.run(128, [&] { form.setMousePointer(MousePointer::Default); });
        steps.run(130, [&] { form.ProgressBar1->setValue(0); });
        steps.run(132, [&] { form.ProgressBar1->setText(u"Progress Bar"_s); });
        steps.run(134, [&] { form.desktop().showMessage(u"Done."_s); });
    }
    steps.run(140, [&] { form.RunInProgress = false; });
}

} // namespace parcelon
