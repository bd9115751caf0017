#pragma once

#include <QString>

#include <array>
#include <cstdint>

// Facts of the compound file format (version 3, 512-byte sectors) shared by
// the writer and the reader.
namespace parcelon::msg::cfb {

using Clsid = std::array<std::uint8_t, 16>;

inline constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr std::uint32_t kHeaderSize = 512;
inline constexpr std::uint32_t kSectorSize = 512;
inline constexpr std::uint32_t kMiniSectorSize = 64;
inline constexpr std::uint32_t kMiniStreamCutoff = 4096;
inline constexpr std::uint32_t kEntrySize = 128;
inline constexpr std::uint32_t kHeaderDifatSlots = 109;
inline constexpr std::uint64_t kMaxStreamSize = 0x80000000; // version 3

// Sector numbers with a meaning of their own.
inline constexpr std::uint32_t MaxRegSect = 0xFFFFFFFA;
inline constexpr std::uint32_t DifSect = 0xFFFFFFFC;
inline constexpr std::uint32_t FatSect = 0xFFFFFFFD;
inline constexpr std::uint32_t EndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t FreeSect = 0xFFFFFFFF;
inline constexpr std::uint32_t NoStream = 0xFFFFFFFF;
inline constexpr std::uint32_t MaxRegSid = 0xFFFFFFFA;

// Object types of directory entries.
enum class ObjectType : std::uint8_t { Unused = 0, Storage = 1, Stream = 2, Root = 5 };

enum class Colour : std::uint8_t { Red = 0, Black = 1 };

// Header fields (offsets into the first 512 bytes).
namespace HeaderField {
inline constexpr std::size_t Clsid = 0x08;
inline constexpr std::size_t MinorVersion = 0x18;
inline constexpr std::size_t MajorVersion = 0x1A;
inline constexpr std::size_t ByteOrder = 0x1C;
inline constexpr std::size_t SectorShift = 0x1E;
inline constexpr std::size_t MiniSectorShift = 0x20;
inline constexpr std::size_t DirectorySectors = 0x28;
inline constexpr std::size_t FatSectors = 0x2C;
inline constexpr std::size_t FirstDirectorySector = 0x30;
inline constexpr std::size_t TransactionSignature = 0x34;
inline constexpr std::size_t MiniStreamCutoff = 0x38;
inline constexpr std::size_t FirstMiniFatSector = 0x3C;
inline constexpr std::size_t MiniFatSectors = 0x40;
inline constexpr std::size_t FirstDifatSector = 0x44;
inline constexpr std::size_t DifatSectors = 0x48;
inline constexpr std::size_t Difat = 0x4C;
} // namespace HeaderField

// Directory entry fields (offsets into an entry's 128 bytes).
namespace EntryField {
inline constexpr std::size_t Name = 0x00;
inline constexpr std::size_t NameLength = 0x40;
inline constexpr std::size_t Type = 0x42;
inline constexpr std::size_t Colour = 0x43;
inline constexpr std::size_t Left = 0x44;
inline constexpr std::size_t Right = 0x48;
inline constexpr std::size_t Child = 0x4C;
inline constexpr std::size_t Clsid = 0x50;
inline constexpr std::size_t StateBits = 0x60;
inline constexpr std::size_t Created = 0x64;
inline constexpr std::size_t Modified = 0x6C;
inline constexpr std::size_t StartSector = 0x74;
inline constexpr std::size_t StreamSize = 0x78;
} // namespace EntryField

inline constexpr qsizetype kMaxNameLength = 31;

// The order of the children of a storage: shorter names first, names of
// equal length by their upper-cased UTF-16 units. 0 means the names collide.
int compareNames(const QString& a, const QString& b);

// Why `name` cannot name a storage or stream; empty when it can.
QString nameProblem(const QString& name);

} // namespace parcelon::msg::cfb
