#pragma once

#include <QString>

namespace parcelon {

class Desktop;

// The path to save an attachment under: the wished path when nothing of
// that name exists, else the first free one of base + 1 + extension,
// base + 2 + extension, ... (the file "a.txt" becomes "a1.txt"), each
// numbered name made to fit the platform's length of a name.
QString SetNewAttachnentName(Desktop& desktop, const QString& wished);

// The path without the extension of its file name; the dot is looked for
// only in the file name, and a name that is all extension (".profile")
// gives the folder part.
QString PathWithoutExtension(const QString& path);

// The extension of the path's file name, from its last dot (with the dot
// when `includeDot`); empty when the file name has no dot.
QString GetExtensionFromFilename(const QString& path, bool includeDot);

} // namespace parcelon
