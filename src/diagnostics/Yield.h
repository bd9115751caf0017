#pragma once

class QEventLoop;

namespace parcelon {

// Thrown by yieldToWindowSystem() once the user has closed the main window,
// and by a start-up step that ends the program. It is not a failure: nothing
// catches it but the edge of an event handler, which ends the program from
// there, and main, which returns `exitCode`.
struct ProgramEnding {
    int exitCode = 0;
};

// Lets the window system process pending events, as long handlers do at
// fixed points. Throws ProgramEnding when the window was closed meanwhile.
void yieldToWindowSystem();

// Runs the event loop of an open box until the box quits it. Closing the
// main window meanwhile quits it too, and then this throws ProgramEnding, as
// a yield does: the box goes and nothing after it runs.
void waitForBox(QEventLoop& loop);

// Closing the main window calls this; from then on the program only unwinds.
void requestProgramEnd();
bool programEnding();

// Starts afresh after an end; for test programs that run many windows.
void clearProgramEnd();

} // namespace parcelon
