#pragma once

#include <QString>

namespace parcelon {

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
