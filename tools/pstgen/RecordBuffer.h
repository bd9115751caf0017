#pragma once

#include <QtEndian>

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace parcelon::pstgen {

// Bytes of an on-disk structure, built front to back in little-endian order.
class RecordBuffer {
public:
    RecordBuffer() = default;
    explicit RecordBuffer(std::size_t reserve) { m_bytes.reserve(reserve); }

    RecordBuffer& u8(std::uint8_t v)
    {
        m_bytes.push_back(v);
        return *this;
    }
    RecordBuffer& u16(std::uint16_t v) { return put(v); }
    RecordBuffer& u32(std::uint32_t v) { return put(v); }
    RecordBuffer& u64(std::uint64_t v) { return put(v); }
    // A field of 4 or 8 bytes: ids and offsets are 32 bits wide in ANSI files.
    RecordBuffer& id(std::uint64_t v, std::uint32_t width) { return width == 4 ? u32(std::uint32_t(v)) : u64(v); }
    RecordBuffer& bytes(std::span<const std::uint8_t> b)
    {
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
        return *this;
    }
    RecordBuffer& zeros(std::size_t n)
    {
        m_bytes.resize(m_bytes.size() + n, 0);
        return *this;
    }

    std::size_t size() const { return m_bytes.size(); }
    std::span<const std::uint8_t> span() const { return m_bytes; }
    std::vector<std::uint8_t>& vector() { return m_bytes; }

private:
    template <class T>
    RecordBuffer& put(T v)
    {
        const std::size_t at = m_bytes.size();
        m_bytes.resize(at + sizeof(T));
        qToLittleEndian<T>(v, m_bytes.data() + at);
        return *this;
    }

    std::vector<std::uint8_t> m_bytes;
};

// Little-endian stores into an existing buffer.
inline void store16(std::uint8_t* p, std::uint16_t v)
{
    qToLittleEndian<std::uint16_t>(v, p);
}
inline void store32(std::uint8_t* p, std::uint32_t v)
{
    qToLittleEndian<std::uint32_t>(v, p);
}
inline void store64(std::uint8_t* p, std::uint64_t v)
{
    qToLittleEndian<std::uint64_t>(v, p);
}
inline void storeId(std::uint8_t* p, std::uint64_t v, std::uint32_t width)
{
    if (width == 4)
        store32(p, std::uint32_t(v));
    else
        store64(p, v);
}

// The signature of a block or page: its offset and id folded to 16 bits.
inline std::uint16_t blockSignature(std::uint64_t ib, std::uint64_t bid)
{
    const auto x = std::uint32_t(ib ^ bid);
    return std::uint16_t((x >> 16) ^ (x & 0xFFFF));
}

} // namespace parcelon::pstgen
