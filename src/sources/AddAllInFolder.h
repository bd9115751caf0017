#pragma once

namespace parcelon {

class Form1;

// "Add All PST Files In Folder": asks for an extension and a folder, then
// adds every file of that extension in the folder and all its subfolders.
void PushButton4_Click(Form1& form);

} // namespace parcelon
