#include "pstgen/SeededRandom.h"

#include <QtEndian>

#include <cstring>

namespace parcelon::pstgen {

namespace {

std::uint64_t splitMix(std::uint64_t& x)
{
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}

} // namespace

SeededRandom::SeededRandom(std::uint64_t seed)
{
    for (auto& s : m_state)
        s = splitMix(seed);
}

std::uint64_t SeededRandom::next()
{
    const std::uint64_t result = rotl(m_state[1] * 5, 7) * 9;
    const std::uint64_t t = m_state[1] << 17;
    m_state[2] ^= m_state[0];
    m_state[3] ^= m_state[1];
    m_state[1] ^= m_state[2];
    m_state[0] ^= m_state[3];
    m_state[2] ^= t;
    m_state[3] = rotl(m_state[3], 45);
    return result;
}

std::uint64_t SeededRandom::between(std::uint64_t min, std::uint64_t max)
{
    if (max <= min)
        return min;
    const std::uint64_t span = max - min + 1;
    if (span == 0) // the whole 64-bit range
        return next();
    return min + next() % span;
}

void SeededRandom::fill(std::span<std::uint8_t> bytes)
{
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        const std::uint64_t v = qToLittleEndian(next());
        std::memcpy(bytes.data() + i, &v, 8);
    }
    if (i < bytes.size()) {
        const std::uint64_t v = qToLittleEndian(next());
        std::memcpy(bytes.data() + i, &v, bytes.size() - i);
    }
}

std::uint64_t SeededRandom::mix(std::initializer_list<std::uint64_t> values)
{
    std::uint64_t x = 0x243F6A8885A308D3ULL;
    std::uint64_t h = 0;
    for (std::uint64_t v : values) {
        x ^= v;
        h = splitMix(x) ^ rotl(h, 23);
    }
    return h;
}

} // namespace parcelon::pstgen
