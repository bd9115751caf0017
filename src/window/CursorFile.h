#pragma once

#include <QCursor>
#include <QString>

namespace parcelon {

// Reads a pointer image from a .cur or .ico file. A .cur file names its
// hotspot in its first directory entry; any other image points at its
// centre. A Failure when the file cannot be read or decoded.
QCursor readCursorFile(const QString& path);

} // namespace parcelon
