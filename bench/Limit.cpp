// The limit the benchmark measures runs against: the files an extraction
// saves, of the same sizes, written from memory into one folder.
//
//   parcelon_bench_limit LIST FOLDER
//
// LIST holds a line "SIZE NAME" per file. Every file is created new
// (O_EXCL), written from one buffer of random bytes in pieces of at most
// 16 MiB and closed: the least work that leaves the same files on disk.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Planned {
    std::uint64_t size;
    std::string name;
};

bool writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LIST FOLDER\n", argv[0]);
        return 2;
    }
    std::vector<Planned> files;
    std::ifstream list(argv[1]);
    for (Planned p; list >> p.size && list.get() == ' ' && std::getline(list, p.name);)
        files.push_back(p);
    if (files.empty()) {
        std::fprintf(stderr, "%s: no files listed\n", argv[1]);
        return 2;
    }

    constexpr std::size_t kPiece = 16 << 20;
    std::uint64_t largest = 0;
    for (const Planned& p : files)
        largest = std::max(largest, p.size);
    std::vector<std::uint8_t> bytes(std::min<std::uint64_t>(largest, kPiece));
    std::mt19937_64 random(1);
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        const std::uint64_t v = random();
        std::memcpy(bytes.data() + i, &v, 8);
    }

    const std::string folder = argv[2];
    for (const Planned& p : files) {
        const std::string path = folder + '/' + p.name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            std::fprintf(stderr, "cannot create %s: %s\n", path.c_str(), std::strerror(errno));
            return 1;
        }
        for (std::uint64_t left = p.size; left > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, bytes.size()));
            if (!writeAll(fd, bytes.data(), n)) {
                std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), std::strerror(errno));
                return 1;
            }
            left -= n;
        }
        if (::close(fd) != 0) {
            std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    return 0;
}
