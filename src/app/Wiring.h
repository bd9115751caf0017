#pragma once

namespace parcelon {

class Form1;

// Connects every control event of the window to its handler, each inside
// the handler edge. Called once, before the start-up sequence.
void wireForm1(Form1& form);

} // namespace parcelon
