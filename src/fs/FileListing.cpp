#include "fs/FileListing.h"

#include "diagnostics/Failure.h"
#include "fs/DirectoryListing.h"
#include "fs/Paths.h"
#include "fs/WildcardPattern.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parcelon {

void ListingMemory::keep(const QString& folder, const std::vector<DirectoryEntry>& entries)
{
    QStringList& names = m_names[folder];
    names.clear();
    for (const DirectoryEntry& entry : entries)
        if (!entry.directory && m_wildcard.matches(entry.name))
            names.append(entry.name);
}

std::optional<QStringList> ListingMemory::take(const QString& folder, const QString& pattern)
{
    if (pattern != m_pattern)
        return std::nullopt;
    const auto it = m_names.constFind(folder);
    if (it == m_names.constEnd())
        return std::nullopt;
    QStringList names = it.value();
    m_names.erase(it);
    return names;
}

QStringList ListFilesInFolder(const QString& folder, const QString& pattern, ListingMemory* memory)
{
    QString base = folder;
    if (!base.endsWith(kSeparator))
        base += kSeparator;

    if (memory) {
        if (auto kept = memory->take(base, pattern)) {
            QStringList names;
            for (const QString& name : std::as_const(*kept))
                if (IsExistingFile(base + name))
                    names.append(name);
            return names;
        }
    }

    std::vector<DirectoryEntry> entries;
    try {
        entries = listDirectory(base, EntryTypes::Skip);
    } catch (const Failure& failure) {
        if (failure.number() == FailureNumber::PathNotFound)
            return {};
        throw;
    }

    const WildcardPattern wildcard(pattern);
    QStringList names;
    for (const DirectoryEntry& entry : entries)
        if (wildcard.matches(entry.name) && IsExistingFile(base + entry.name))
            names.append(entry.name);
    return names;
}

bool IsExistingFile(const QString& path)
{
    if (path.isEmpty())
        return false;
#ifdef O_PATH
    const int fd = ::open(nativePath(path).constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
#else
    struct stat st;
    return ::stat(nativePath(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
#endif
}

} // namespace parcelon
