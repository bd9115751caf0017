#pragma once

#include <QtEndian>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace parcelon::pst {

using Bytes = std::span<const std::uint8_t>;

// A field of an on-disk structure: its offset from the structure's start and
// its width in bytes. A width of 0 marks a field the structure does not have.
struct Field {
    std::size_t offset = 0;
    std::size_t size = 0;

    constexpr std::size_t end() const { return offset + size; }
};

// Little-endian reads at offsets inside a bounded span. Every read checks
// its bounds first: `has(offset, size)` tells whether the bytes are there,
// and the readers return 0 for bytes outside the span, so a caller that
// checks `has` once for a whole structure reads it without further tests.
class SpanReader {
public:
    constexpr SpanReader() = default;
    constexpr explicit SpanReader(Bytes bytes) : m_bytes(bytes) {}

    constexpr std::size_t size() const { return m_bytes.size(); }
    constexpr Bytes bytes() const { return m_bytes; }

    constexpr bool has(std::size_t offset, std::size_t count) const
    {
        return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }

    // The bytes [offset, offset + count), or an empty span when out of range.
    constexpr Bytes slice(std::size_t offset, std::size_t count) const
    {
        return has(offset, count) ? m_bytes.subspan(offset, count) : Bytes{};
    }

    std::uint8_t u8(std::size_t offset) const { return has(offset, 1) ? m_bytes[offset] : 0; }
    std::uint16_t u16(std::size_t offset) const { return read<std::uint16_t>(offset); }
    std::uint32_t u32(std::size_t offset) const { return read<std::uint32_t>(offset); }
    std::uint64_t u64(std::size_t offset) const { return read<std::uint64_t>(offset); }

    // An unsigned value of 1, 2, 4 or 8 bytes (ANSI and Unicode fields differ).
    std::uint64_t uint(std::size_t offset, std::size_t width) const
    {
        switch (width) {
        case 1:
            return u8(offset);
        case 2:
            return u16(offset);
        case 4:
            return u32(offset);
        case 8:
            return u64(offset);
        default:
            return 0;
        }
    }

    // The field `field` of the structure at `base`, as an unsigned number;
    // 0 for a field the structure does not have.
    std::uint64_t field(Field field, std::size_t base = 0) const { return uint(base + field.offset, field.size); }

private:
    template <class T>
    T read(std::size_t offset) const
    {
        if (!has(offset, sizeof(T)))
            return 0;
        T value;
        std::memcpy(&value, m_bytes.data() + offset, sizeof(T));
        if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN)
            value = qFromLittleEndian(value);
        return value;
    }

    Bytes m_bytes;
};

} // namespace parcelon::pst
