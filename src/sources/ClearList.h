#pragma once

namespace parcelon {

class Form1;

// "Clear List": empties the source list, unless the window is busy.
void PushButton3_Click(Form1& form);

} // namespace parcelon
