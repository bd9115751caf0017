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
    desktop.showErrorReport(errorReportText(description, handlerLocationText(handler), ReportForm::Short, 0));
}

} // namespace parcelon
