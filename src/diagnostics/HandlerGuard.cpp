#include "diagnostics/HandlerGuard.h"

#include "diagnostics/Desktop.h"

#include <QCoreApplication>

namespace parcelon {

void endProgramFromHandler(int exitCode)
{
    requestProgramEnd();
    QCoreApplication::exit(exitCode);
}

void showHandlerFailure(Desktop& desktop, QStringView handler, const QString& description)
{
    if (programEnding())
        return;
    try {
        desktop.showErrorReport(errorReportText(description, handlerLocationText(handler), ReportForm::Short, 0));
    } catch (const ProgramEnding& ending) {
        // The window was closed while the report was open.
        endProgramFromHandler(ending.exitCode);
    }
}

} // namespace parcelon
