#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace parcelon::pst {

// The byte loops of the two encodings, in several versions: a portable one
// and, where the CPU has them, versions with its vector instructions. All
// give the same bytes; the engine uses the first this CPU runs.
struct CodingKernel {
    const char* name;
    // out[i] = table[in[i]] for i < n; `out` may be `in` or lie before it.
    void (*substitute)(const std::uint8_t* table, const std::uint8_t* in, std::uint8_t* out, std::size_t n);
    // The cyclic method over n bytes, its 16-bit key word starting at `w`;
    // `out` as above.
    void (*cyclic)(const std::uint8_t* in, std::uint8_t* out, std::size_t n, std::uint16_t w);
};

// The versions this CPU runs, best first; the portable one is last.
std::span<const CodingKernel> codingKernels();

} // namespace parcelon::pst
