#pragma once

#include <cstdint>

namespace parcelon::pst {

// Property ids (the high half of a property tag) the engine reads.
namespace PropId {
inline constexpr std::uint16_t MessageClass = 0x001A;
inline constexpr std::uint16_t Subject = 0x0037;
inline constexpr std::uint16_t RecordKey = 0x0FF9;
inline constexpr std::uint16_t DisplayName = 0x3001;
inline constexpr std::uint16_t IpmSubtreeEntryId = 0x35E0;
inline constexpr std::uint16_t AttachDataBinary = 0x3701; // also the object of embedded messages
inline constexpr std::uint16_t AttachFilename = 0x3704;
inline constexpr std::uint16_t AttachMethod = 0x3705;
inline constexpr std::uint16_t AttachLongFilename = 0x3707;
inline constexpr std::uint16_t AttachPathname = 0x3708;
inline constexpr std::uint16_t AttachLongPathname = 0x370D;
inline constexpr std::uint16_t InternetCodepage = 0x3FDE;
inline constexpr std::uint16_t MessageLocaleId = 0x3FF1;
inline constexpr std::uint16_t MessageCodepage = 0x3FFD;
} // namespace PropId

// How an attachment holds its content.
namespace AttachMethod {
inline constexpr int None = 0;
inline constexpr int ByValue = 1;
inline constexpr int ByReference = 2;
inline constexpr int ByReferenceResolve = 3;
inline constexpr int ByReferenceOnly = 4;
inline constexpr int EmbeddedMessage = 5;
inline constexpr int Storage = 6;
inline constexpr int ByWebReference = 7;
} // namespace AttachMethod

// Node ids with a fixed meaning.
namespace WellKnownNid {
inline constexpr std::uint32_t MessageStore = 0x21;
inline constexpr std::uint32_t NameToIdMap = 0x61;
inline constexpr std::uint32_t RootFolder = 0x122;
inline constexpr std::uint32_t AttachmentTable = 0x671;
inline constexpr std::uint32_t RecipientTable = 0x692;
inline constexpr std::uint32_t IpmSubtree = 0x8022; // in Outlook-made files
} // namespace WellKnownNid

} // namespace parcelon::pst
