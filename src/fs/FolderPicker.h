#pragma once

#include <QString>

namespace parcelon {

class Desktop;

// Shows the folder picker (directories only) with the prompt, opened at the
// initial folder, or at the home folder when the initial folder is empty or
// no longer exists. Returns the chosen folder without a trailing separator
// (the root stays the separator alone), or the empty text when cancelled.
QString BrowseForFolder(Desktop& desktop, const QString& prompt, const QString& initialFolder, const QString& homeFolder);

} // namespace parcelon
