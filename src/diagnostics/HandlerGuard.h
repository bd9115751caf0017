#pragma once

#include "diagnostics/ErrorReport.h"
#include "diagnostics/Failure.h"
#include "diagnostics/Yield.h"

#include <QStringView>

#include <exception>
#include <utility>

namespace parcelon {

class Desktop;

// Ends the program from the edge of an event handler once the window was
// closed during a yield: the event loop is asked to return `exitCode`.
void endProgramFromHandler(int exitCode);

void showHandlerFailure(Desktop& desktop, QStringView handler, const QString& description);

// The edge of every window event handler: no failure and no ProgramEnding
// ever reaches Qt's event dispatch. A failure in a handler without numbered
// steps of its own shows the short report at line 0, naming the handler.
template <class Body>
void guardHandler(Desktop& desktop, QStringView handler, Body&& body)
{
    try {
        std::forward<Body>(body)();
    } catch (const ProgramEnding& ending) {
        endProgramFromHandler(ending.exitCode);
    } catch (const std::exception& e) {
        showHandlerFailure(desktop, handler, failureDescription(e));
    }
}

} // namespace parcelon
