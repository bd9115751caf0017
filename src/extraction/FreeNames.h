#pragma once

#include <QString>

#include <cstdint>
#include <map>
#include <unordered_map>

namespace parcelon {

// Remembers, for each numbered name (base + number + extension), the number
// below which every name was taken when last looked at, so that naming the
// thousandth "image001.png" of a folder does not probe a thousand names
// again. The folder is watched: as soon as anything of it is removed or
// moved away, what was remembered of it is forgotten, so a gap is found
// again exactly where probing from 1 would find it.
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
    int watch(const QString& folder);

    struct Watched {
        std::map<QString, std::int64_t> starts; // by base + '\n' + extension
    };

    int m_inotify = -1;
    std::map<QString, int> m_folders; // folder -> watch descriptor
    std::unordered_map<int, Watched> m_watched; // by watch descriptor
    std::map<QString, int> m_keys;   // base + '\n' + extension -> watch descriptor
};

} // namespace parcelon
