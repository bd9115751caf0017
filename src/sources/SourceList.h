#pragma once

#include <QString>

namespace parcelon {

class Form1;

// The source list: ListView1's items, each the full path of one file,
// counted from 1 in list order. Paths may repeat.
int sourceCount(const Form1& form);
QString sourceText(const Form1& form, int position);

// Appends a path after the items already listed.
void addSource(Form1& form, const QString& path);

} // namespace parcelon
