#pragma once

#include <functional>

namespace parcelon {

class Form1;

using StartUpSequence = std::function<void(Form1&)>;

// The program: the application object, the window with its store and
// desktop, the start-up sequence and the event loop. Returns the exit status.
int runProgram(int argc, char** argv);

// Runs `startUp` (the start-up sequence), then shows the window centred and
// runs the event loop. A start-up step that ends the program returns its
// status, and the window is never shown.
int startForm1(Form1& form, const StartUpSequence& startUp);

} // namespace parcelon
