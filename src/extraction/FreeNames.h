#pragma once

#include <QString>

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <unordered_map>

namespace parcelon {

// Remembers, for each numbered name (base + number + extension), the number
// below which every name was taken when last looked at, so that naming the
// thousandth "image001.png" of a folder does not probe a thousand names
// again. It never changes a result: every name chosen with it is the one
// that probing from 1 would choose at that moment. So it is used only on
// local file systems where inotify sees every change (ext2/3/4, xfs,
// btrfs, f2fs, tmpfs), only while the folder's path still names the folder
// that is watched, and what it knows of a folder is forgotten at every
// event that can free a name there or replace the folder; pending events
// are read before each use.
class FreeNames {
public:
    static FreeNames& instance();
    FreeNames(const FreeNames&) = delete;
    FreeNames& operator=(const FreeNames&) = delete;
    ~FreeNames();

    // The number to start probing at: 1, or a number below which nothing
    // has become free since it was recorded.
    std::int64_t start(const QString& base, const QString& extension, const QString& folder);

    // Every number below `counter` was found taken just now.
    void record(const QString& base, const QString& extension, std::int64_t counter);

private:
    FreeNames();
    void readChanges();
    void forget(int wd);
    int watch(const QString& folder);

    struct Watched {
        dev_t device = 0;
        ino_t inode = 0;
        std::map<QString, std::int64_t> starts; // by base + '\n' + extension
    };

    int m_inotify = -1;
    std::map<QString, int> m_folders;           // folder -> watch descriptor
    std::unordered_map<int, Watched> m_watched; // by watch descriptor
    std::map<QString, int> m_keys;              // base + '\n' + extension -> watch descriptor
};

} // namespace parcelon
