#pragma once

namespace parcelon {

class Form1;

// "Start Extracting Attachments": every file of the source list, one after
// the other, through a mail-store session, with the progress bar naming
// each file; "Done." at the end.
void PushButton2_Click(Form1& form);

} // namespace parcelon
