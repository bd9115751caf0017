#pragma once

#include <QString>

namespace parcelon {

class Form1;
class Steps;

// Steps 114 to 134 of the folder scan, shared with dropped folders: expands
// `folder` breadth first and appends to the source list, folder by folder,
// every file whose name matches `pattern`, except names beginning with "~",
// files that cannot be opened and files whose attributes are exactly
// archive + hidden. Every action is a numbered step of the calling command;
// with unguarded steps the first failure ends the harvest and reaches the
// caller.
void harvestFolderTree(Form1& form, const QString& folder, const QString& pattern, Steps& steps);

} // namespace parcelon
