#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

namespace parcelon {

// The platform's path separator.
#ifdef Q_OS_WIN
inline constexpr QChar kSeparator = u'\\';
#else
inline constexpr QChar kSeparator = u'/';
#endif

// The bytes handed to the file system for a path (UTF-8 here).
QByteArray nativePath(const QString& path);

// True when a file, folder or link of that name exists; never fails.
bool FileExists(const QString& path);

// True when the path names an existing folder (after links); never fails.
bool FolderExists(const QString& path);

// Collapses doubled separators in one left-to-right pass over
// non-overlapping pairs (three in a row become two). A leading run becomes
// one separator here (two on Windows, keeping a network prefix).
QString CollapseBackslashes(const QString& path);

// The text after the last separator; the whole path when it holds none.
QString FileNameOfPath(const QString& path);

// The text up to and including the last separator; empty when it holds none.
QString FolderOfPath(const QString& path);

} // namespace parcelon
