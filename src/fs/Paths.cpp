#include "fs/Paths.h"

#include <sys/stat.h>

namespace parcelon {

QByteArray nativePath(const QString& path)
{
    return path.toUtf8();
}

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    return ::lstat(nativePath(path).constData(), &st) == 0;
}

bool FolderExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    return ::stat(nativePath(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString CollapseBackslashes(const QString& path)
{
#ifdef Q_OS_WIN
    constexpr qsizetype kLeadingRun = 2;
#else
    constexpr qsizetype kLeadingRun = 1;
#endif
    QString result;
    result.reserve(path.size());
    qsizetype i = 0;
    if (path.startsWith(kSeparator)) {
        while (i < path.size() && path.at(i) == kSeparator)
            ++i;
        result.fill(kSeparator, kLeadingRun);
    }
    while (i < path.size()) {
        result += path.at(i);
        if (path.at(i) == kSeparator && i + 1 < path.size() && path.at(i + 1) == kSeparator)
            i += 2;
        else
            ++i;
    }
    return result;
}

QString FileNameOfPath(const QString& path)
{
    return path.mid(path.lastIndexOf(kSeparator) + 1);
}

QString FolderOfPath(const QString& path)
{
    return path.left(path.lastIndexOf(kSeparator) + 1);
}

} // namespace parcelon
