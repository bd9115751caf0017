#pragma once

namespace parcelon {

class Form1;

// "Add PST File(s)": the open-file dialog with multiple selection; each
// chosen file is appended to the source list in the order returned.
void PushButton1_Click(Form1& form);

} // namespace parcelon
