#pragma once

#include <cstddef>
#include <cstdint>

namespace parcelon::pst {

// Property types of the format (the low half of a property tag).
namespace PropType {
inline constexpr std::uint16_t Integer16 = 0x0002;
inline constexpr std::uint16_t Integer32 = 0x0003;
inline constexpr std::uint16_t Floating32 = 0x0004;
inline constexpr std::uint16_t Floating64 = 0x0005;
inline constexpr std::uint16_t Currency = 0x0006;
inline constexpr std::uint16_t FloatingTime = 0x0007;
inline constexpr std::uint16_t ErrorCode = 0x000A;
inline constexpr std::uint16_t Boolean = 0x000B;
inline constexpr std::uint16_t Object = 0x000D;
inline constexpr std::uint16_t Integer64 = 0x0014;
inline constexpr std::uint16_t String8 = 0x001E;
inline constexpr std::uint16_t String = 0x001F;
inline constexpr std::uint16_t Time = 0x0040;
inline constexpr std::uint16_t Guid = 0x0048;
inline constexpr std::uint16_t Binary = 0x0102;
inline constexpr std::uint16_t MultipleFlag = 0x1000;
} // namespace PropType

// The size of a fixed-size value, or 0 for a variable-size type.
inline std::size_t fixedSize(std::uint16_t type)
{
    switch (type) {
    case PropType::Boolean:
        return 1;
    case PropType::Integer16:
        return 2;
    case PropType::Integer32:
    case PropType::Floating32:
    case PropType::ErrorCode:
        return 4;
    case PropType::Floating64:
    case PropType::Currency:
    case PropType::FloatingTime:
    case PropType::Integer64:
    case PropType::Time:
        return 8;
    case PropType::Guid:
        return 16;
    default:
        return 0;
    }
}

// Fixed-size values of up to four bytes are stored in place of a heap id.
inline bool storedInline(std::uint16_t type)
{
    const std::size_t size = fixedSize(type);
    return size > 0 && size <= 4;
}

} // namespace parcelon::pst
