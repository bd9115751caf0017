#include "fs/FolderExpansion.h"

#include "diagnostics/Failure.h"
#include "diagnostics/Steps.h"
#include "diagnostics/Yield.h"
#include "fs/DirectoryListing.h"
#include "fs/FileAttributes.h"
#include "fs/FileListing.h"
#include "fs/Paths.h"

#include <QHash>
#include <QSet>

#include <unordered_map>

#include <climits>
#include <exception>
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

// One expansion, across all levels of its recursion. It remembers every
// folder it has taken in, so that a folder reached again (a bind mount) is
// passed over, and what it found of each folder, so that each folder's
// existence and attributes are read once whichever step asks again.
class Expansion {
public:
    Expansion(Desktop& desktop, ListingMemory* memory) : m_desktop(desktop), m_memory(memory) {}

    void takeInStartingFolders(const QStringList& folders);
    void expand(QStringList& folders, bool recursive);

private:
    // What was read of one folder.
    struct Look {
        std::optional<bool> exists;
        std::optional<bool> listable;
        std::exception_ptr failure; // of reading the attributes
    };

    Look& lookAt(const QString& folder);
    bool exists(const QString& folder);
    bool listable(const QString& folder);
    void seenInListing(const QString& path, const DirectoryEntry& entry, const FolderIdentity& parent);
    void listSubfolders(const QString& folder, QStringList& found);

    Desktop& m_desktop;
    ListingMemory* m_memory;
    std::set<FolderIdentity> m_taken;
    QSet<QString> m_starting;
    struct PathHash {
        std::size_t operator()(const QString& path) const { return qHash(path); }
    };
    // By path; the nodes stay where they are, and each holds its path.
    std::unordered_map<QString, std::pair<QString, Look>, PathHash> m_looks;
    // By the text that a collection entry shares with the path held above
    // (the same entry is looked up at every level above its folder).
    std::unordered_map<const QChar*, Look*> m_looksByText;
};

void Expansion::takeInStartingFolders(const QStringList& folders)
{
    for (const QString& folder : folders) {
        m_starting.insert(folder);
        if (const auto identity = identityOf(folder))
            m_taken.insert(*identity);
    }
}

Expansion::Look& Expansion::lookAt(const QString& folder)
{
    if (const auto it = m_looksByText.find(folder.constData()); it != m_looksByText.end())
        return *it->second;
    auto& [path, look] = m_looks.try_emplace(folder, folder, Look{}).first->second;
    m_looksByText.emplace(path.constData(), &look);
    return look;
}

bool Expansion::exists(const QString& folder)
{
    Look& look = lookAt(folder);
    if (!look.exists)
        look.exists = FolderExists(folder);
    return *look.exists;
}

// Listed when it is the root or not protected. A starting folder is looked
// at through a link, as the folder it names.
bool Expansion::listable(const QString& folder)
{
    Look& look = lookAt(folder);
    if (!look.listable && !look.failure) {
        try {
            const LinkView view = m_starting.contains(folder) ? LinkView::Through : LinkView::Own;
            look.listable = IsRootFolder(folder) || !isProtected(FileAttributes(folder, view));
        } catch (...) {
            look.failure = std::current_exception();
        }
    }
    if (look.failure)
        std::rethrow_exception(look.failure);
    return *look.listable;
}

// What the listing of its parent tells of a subfolder, read there once:
// it exists; a link to a folder is protected; any other folder is hidden
// by its name, and a system folder only where another file system is
// mounted on it (which is read out when asked for).
void Expansion::seenInListing(const QString& path, const DirectoryEntry& entry, const FolderIdentity& parent)
{
    Look& look = lookAt(path);
    look.exists = nativePath(path).size() < kPathMax; // else the system cannot take the path
    if (entry.link)
        look.listable = false;
    else if (entry.identity && entry.identity->device == parent.device)
        look.listable = true; // 16, or 18 when hidden: never exactly 22
}

// Steps 118 to 136: appends the subfolders of `folder` to `found`.
void Expansion::listSubfolders(const QString& folder, QStringList& found)
{
    FolderIdentity self;
    const std::vector<DirectoryEntry> entries = listDirectory(folder, EntryTypes::Read, &self);
    if (m_memory)
        m_memory->keep(folder, entries);
    for (const DirectoryEntry& entry : entries) { // [118]
        if (!entry.directory)
            continue;
        yieldToWindowSystem();                  // [120]
        const QString& name = entry.name;       // [122]
        if (nativePath(name).size() > kNameMax) // [124]
            continue;
        if (HasUnsupportedCharacters(name)) // [126]
            continue;
        // [128] "?" is an ordinary character of a name here.
        if (name == "."_L1 || name == ".."_L1) // [130]
            continue;
        const QString path = folder + name; // [132]
        // [134] A folder reached again (a bind mount) is passed over. A name
        // that is not valid UTF-8 decodes to a path that leads elsewhere or
        // nowhere; where it leads is what counts. A link is not followed
        // (it reads as a protected folder), so it takes in nothing.
        if (!entry.link) {
            const auto target = name.toUtf8() == entry.bytes ? entry.identity : identityOf(path);
            if (target && !m_taken.insert(*target).second)
                continue;
        }
        const QString subfolder = path + kSeparator;
        found.append(subfolder);
        if (name.toUtf8() == entry.bytes)
            seenInListing(subfolder, entry, self);
    } // [136]
}

void Expansion::expand(QStringList& folders, bool recursive)
{
    Steps steps(Location::GetSubDirectories2016, m_desktop);
    QStringList found; // [100] [104]

    // From the first folder listed on, failures go to the local handler of
    // step 138 instead of the error report.
    bool localHandler = false;
    for (qsizetype i = 0; i < folders.size(); ++i) { // [106]
        const QString folder = folders.at(i);
        try {
            if (!exists(folder)) // [108]
                continue;
            if (nativePath(folder).size() >= kPathMax) // [110]
                continue;
            // [112] the folder is reached through its path.
            yieldToWindowSystem(); // [114]
            const bool listed = localHandler ? listable(folder) : steps.test(116, [&] { return listable(folder); });
            if (!listed)
                continue;
            localHandler = true;
            listSubfolders(folder, found);
        } catch (const std::exception& e) { // [138]
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
    } // [148]

    steps.run(150, [&] {
        if (recursive && !found.isEmpty())
            expand(found, true);
    });

    for (const QString& entry : std::as_const(found)) { // [152]
        if (!exists(entry))                             // [154]
            continue;
        yieldToWindowSystem(); // [156]
        if (steps.test(158, [&] { return listable(entry); }))
            folders.append(entry); // [160]
    }
}

} // namespace

void GetSubDirectories2016(QStringList& folders, bool recursive, Desktop& desktop, ListingMemory* memory)
{
    Expansion expansion(desktop, memory);
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
