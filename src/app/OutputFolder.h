#pragma once

namespace parcelon {

class Form1;

// Every change of the output folder box is stored as "Text1" at once.
void Text1_Change(Form1& form);

} // namespace parcelon
