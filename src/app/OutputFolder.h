#pragma once

namespace parcelon {

class Form1;

// A click of either save option stores both and enables the output-folder
// frame exactly when the first is selected.
void Option1_Click(Form1& form);
void Option2_Click(Form1& form);

// Every change of the output folder box is stored as "Text1" at once.
void Text1_Change(Form1& form);

// The browse button: picks the output folder, starting where it was last
// picked, and puts it into the box with a trailing separator.
void PushButton6_Click(Form1& form);

} // namespace parcelon
