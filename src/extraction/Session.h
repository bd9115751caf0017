#pragma once

#include <QString>

namespace parcelon {

class Form1;

// Takes one PST file through the mail host: mounts it, walks its folders
// saving every attachment, and unmounts it. Reports its own failures and
// always returns; the window shows the busy pointer meanwhile.
void ExtractAttachmentFromPST(Form1& form, const QString& path);

} // namespace parcelon
