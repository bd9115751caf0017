#include "fs/FolderExpansion.h"

#include "diagnostics/Failure.h"
#include "diagnostics/Steps.h"
#include "diagnostics/Yield.h"
#include "fs/DirectoryListing.h"
#include "fs/FileAttributes.h"
#include "fs/Paths.h"

#include <climits>
#include <optional>
#include <set>

#include <sys/stat.h>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

#ifdef PATH_MAX
constexpr qsizetype kPathMax = PATH_MAX;
#else
constexpr qsizetype kPathMax = 4096;
#endif
#ifdef NAME_MAX
constexpr qsizetype kNameMax = NAME_MAX;
#else
constexpr qsizetype kNameMax = 255;
#endif

bool isProtected(int attributes)
{
    constexpr int kSystemFolder = Attribute::Directory | Attribute::System | Attribute::Hidden;
    return attributes == kSystemFolder || attributes == (kSystemFolder | Attribute::ReparsePoint);
}

bool isListable(const QString& folder)
{
    return IsRootFolder(folder) || !isProtected(FileAttributes(folder));
}

std::optional<FolderIdentity> identityOf(const QString& path)
{
    struct stat st;
    if (::stat(nativePath(path).constData(), &st) != 0)
        return std::nullopt;
    return FolderIdentity{st.st_dev, st.st_ino};
}

bool isLocalFailure(int number)
{
    return number == FailureNumber::PermissionDenied || number == FailureNumber::PathNotFound;
}

// One expansion, across all levels of its recursion: remembers every folder
// it has taken in, so that a link back to one of them is passed over.
class Expansion {
public:
    explicit Expansion(Desktop& desktop) : m_desktop(desktop) {}

    void takeInStartingFolders(const QStringList& folders);
    void expand(QStringList& folders, bool recursive);

private:
    void listSubfolders(const QString& folder, QStringList& found);

    Desktop& m_desktop;
    std::set<FolderIdentity> m_taken;
};

void Expansion::takeInStartingFolders(const QStringList& folders)
{
    for (const QString& folder : folders)
        if (const auto identity = identityOf(folder))
            m_taken.insert(*identity);
}

// Steps 118 to 136: appends the subfolders of `folder` to `found`.
void Expansion::listSubfolders(const QString& folder, QStringList& found)
{
    for (const DirectoryEntry& entry : listDirectory(folder, EntryTypes::Read)) {   // [118]
        if (!entry.directory)
            continue;
        yieldToWindowSystem();                                                      // [120]
        const QString& name = entry.name;                                           // [122]
        if (nativePath(name).size() > kNameMax)                                     // [124]
            continue;
        if (HasUnsupportedCharacters(name))                                         // [126]
            continue;
        // [128] "?" is an ordinary character of a name here.
        if (name == "."_L1 || name == ".."_L1)                                      // [130]
            continue;
        const QString path = folder + name;                                         // [132]
        // [134] A folder reached again (through a link) is passed over. A name
        // that is not valid UTF-8 decodes to a path that leads elsewhere or
        // nowhere; where it leads is what counts.
        const auto target = name.toUtf8() == entry.bytes ? entry.identity : identityOf(path);
        if (target && !m_taken.insert(*target).second)
            continue;
        found.append(path + kSeparator);
    }                                                                               // [136]
}

void Expansion::expand(QStringList& folders, bool recursive)
{
    Steps steps(Location::GetSubDirectories2016, m_desktop);
    QStringList found;                                                              // [100] [104]

    // From the first folder listed on, failures go to the local handler of
    // step 138 instead of the error report.
    bool localHandler = false;
    for (qsizetype i = 0; i < folders.size(); ++i) {                                // [106]
        const QString folder = folders.at(i);
        try {
            if (!FolderExists(folder))                                              // [108]
                continue;
            if (nativePath(folder).size() >= kPathMax)                              // [110]
                continue;
            // [112] the folder is reached through its path.
            yieldToWindowSystem();                                                  // [114]
            const bool listable = localHandler ? isListable(folder)
                                               : steps.test(116, [&] { return isListable(folder); });
            if (!listable)
                continue;
            localHandler = true;
            listSubfolders(folder, found);
        } catch (const std::exception& e) {                                         // [138]
            if (!isLocalFailure(failureNumber(e)))
                continue;
            // [140] [142] [144] [146] the first entry equal to the folder goes [148]
            const qsizetype at = folders.indexOf(folder);
            if (at >= 0) {
                folders.removeAt(at);
                if (at <= i)
                    --i; // the entry that followed moves into this place
            }
        }
    }                                                                               // [148]

    steps.run(150, [&] {
        if (recursive && !found.isEmpty())
            expand(found, true);
    });

    for (const QString& entry : std::as_const(found)) {                             // [152]
        if (!FolderExists(entry))                                                   // [154]
            continue;
        yieldToWindowSystem();                                                      // [156]
        if (steps.test(158, [&] { return isListable(entry); }))
            folders.append(entry);                                                  // [160]
    }
}

} // namespace

void GetSubDirectories2016(QStringList& folders, bool recursive, Desktop& desktop)
{
    Expansion expansion(desktop);
    expansion.takeInStartingFolders(folders);
    expansion.expand(folders, recursive);
}

bool HasUnsupportedCharacters(const QString& name)
{
    for (QChar c : name) {
        const char16_t code = c.unicode();
        if (code < 32 || (code >= 127 && code <= 159))
            return true;
    }
    return false;
}

} // namespace parcelon
