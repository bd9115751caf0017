#include "mailhost/pst/bytes/Inflate.h"

#include <libdeflate.h>

#include <memory>

namespace parcelon::pst {

namespace {

struct FreeDecompressor {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

} // namespace

bool inflateZlib(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out)
{
    // A decompressor is not shared between threads; each keeps its own.
    thread_local const std::unique_ptr<libdeflate_decompressor, FreeDecompressor> decompressor(libdeflate_alloc_decompressor());
    if (!decompressor)
        return false;
    std::size_t size = 0;
    return libdeflate_zlib_decompress(decompressor.get(), stored.data(), stored.size(), out.data(), out.size(), &size)
        == LIBDEFLATE_SUCCESS
        && size == out.size();
}

} // namespace parcelon::pst
