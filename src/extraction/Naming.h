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

// The file name stem + number + extension (the extension with its dot, the
// number possibly empty), made to fit the platform's 255 bytes where it
// does not: the stem is cut at a character boundary, keeping the number and
// the extension whole; where that would leave fewer than 8 characters of the
// stem, those 8 (or the whole, shorter stem) stay and the extension is cut
// from its end instead. So a name that is all extension is cut from its end.
QString fittingFileName(const QString& stem, const QString& number, const QString& extension);

// A whole file name made to fit, as above; its extension runs from its last
// dot (all of ".profile").
QString fittingFileName(const QString& name);

} // namespace parcelon
