#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

namespace parcelon::pstgen {

// A small, fast generator (xoshiro256**) whose output depends only on its
// seed, so the same description always gives the same file.
class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed);

    std::uint64_t next();
    // A value in [min, max] (inclusive).
    std::uint64_t between(std::uint64_t min, std::uint64_t max);
    void fill(std::span<std::uint8_t> bytes);

    // Mixes values into one well-spread key (a seed for a part of the file).
    static std::uint64_t mix(std::initializer_list<std::uint64_t> values);

private:
    std::uint64_t m_state[4];
};

} // namespace parcelon::pstgen
