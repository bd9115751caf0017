#pragma once

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

// Closing the main window calls this; from then on the program only unwinds.
void requestProgramEnd();
bool programEnding();

// Starts afresh after an end; for test programs that run many windows.
void clearProgramEnd();

} // namespace parcelon
