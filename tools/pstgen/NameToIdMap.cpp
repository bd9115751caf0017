#include "pstgen/NameToIdMap.h"

#include "pstgen/PropertyTags.h"
#include "pstgen/RecordBuffer.h"
#include "pstgen/ValueStorage.h"

#include "mailhost/pst/bytes/Crc.h"

#include <array>
#include <map>

namespace parcelon::pstgen {

namespace {

constexpr std::uint32_t kBucketCount = 251;

// Property sets beyond PS_MAPI (1) and PS_PUBLIC_STRINGS (2), numbered from 3.
constexpr std::array<std::array<std::uint8_t, 16>, 6> kGuids = {{
    {{0x02, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, // PSETID_Appointment
    {{0x86, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, // PS_INTERNET_HEADERS
    {{0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, // PSETID_Common
    {{0x13, 0x8F, 0xF2, 0x41, 0xF4, 0x83, 0x14, 0x41, 0xA5, 0x84, 0xEE, 0xDB, 0x5A, 0x6B, 0x0B, 0xFF}},
    {{0x14, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}},
    {{0x03, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}, // PSETID_Task
}};

struct Name {
    std::uint16_t guid;   // 1 PS_MAPI, 2 PS_PUBLIC_STRINGS, 3.. kGuids
    std::uint32_t number; // numeric names
    const char16_t* text; // string names
};

// In the order Outlook numbers them: property id 0x8000 + position.
constexpr Name kNames[] = {
    {3, 0x8205, nullptr},     {3, 0x8223, nullptr},
    {3, 0x8231, nullptr},     {3, 0x8216, nullptr},
    {3, 0x820D, nullptr},     {3, 0x820E, nullptr},
    {3, 0x8235, nullptr},     {3, 0x8236, nullptr},
    {3, 0x8233, nullptr},     {4, 0, u"content-class"},
    {2, 0, u"DRMLicense"},    {4, 0, u"x-cr-hashedpuzzle"},
    {4, 0, u"x-cr-puzzleid"}, {5, 0x8580, nullptr},
    {5, 0x8581, nullptr},     {2, 0, u"urn:schemas-microsoft-com:office:outlook#storetypeprivate"},
    {5, 0x8510, nullptr},     {5, 0x8578, nullptr},
    {6, 0, u"IsMentioned"},   {2, 0, u"Keywords"},
    {7, 0x8F05, nullptr},     {5, 0x8514, nullptr},
    {7, 0x8F07, nullptr},     {5, 0x8503, nullptr},
    {5, 0x85A8, nullptr},     {5, 0x8502, nullptr},
    {8, 0x8104, nullptr},     {8, 0x8105, nullptr},
    {8, 0x811C, nullptr},     {4, 0, u"x-ms-exchange-organization-authdomain"},
    {2, 0, u"DoNotForward"},  {5, 0x8570, nullptr},
    {8, 0x8101, nullptr},     {5, 0x85E0, nullptr},
    {5, 0x8552, nullptr},
};

QByteArray toByteArray(std::span<const std::uint8_t> bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

} // namespace

void fillNameToIdMap(PropertyContextBuilder& map)
{
    RecordBuffer guids;
    for (const auto& g : kGuids)
        guids.bytes(g);

    RecordBuffer entries;
    RecordBuffer strings;
    std::map<std::uint32_t, RecordBuffer> buckets;
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        const Name& n = kNames[i];
        const bool isString = n.text != nullptr;
        const auto guidN = std::uint16_t((n.guid << 1) | (isString ? 1 : 0));
        std::uint32_t id = n.number;
        std::uint32_t hashBase = n.number;
        if (isString) {
            const QByteArray text = utf16le(QString::fromUtf16(n.text));
            id = std::uint32_t(strings.size());
            strings.u32(std::uint32_t(text.size()));
            strings.bytes({reinterpret_cast<const std::uint8_t*>(text.constData()), std::size_t(text.size())});
            strings.zeros((4 - strings.size() % 4) % 4);
            hashBase = pst::pstCrc({reinterpret_cast<const std::uint8_t*>(text.constData()), std::size_t(text.size())});
        }
        entries.u32(id).u16(guidN).u16(std::uint16_t(i));
        buckets[(guidN ^ hashBase) % kBucketCount].u32(hashBase).u16(guidN).u16(std::uint16_t(i));
    }

    map.setInteger(tag::make(0x0001, tag::Integer32), kBucketCount);
    map.setBinary(tag::make(0x0002, tag::Binary), toByteArray(guids.span()));
    map.setBinary(tag::make(0x0003, tag::Binary), toByteArray(entries.span()));
    map.setBinary(tag::make(0x0004, tag::Binary), toByteArray(strings.span()));
    for (const auto& [bucket, records] : buckets)
        map.setBinary(tag::make(std::uint16_t(0x1000 + bucket), tag::Binary), toByteArray(records.span()));
}

} // namespace parcelon::pstgen
