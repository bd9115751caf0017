#include "mailhost/msg/NamedPropertyMap.h"

#include "mailhost/msg/ValueSource.h"
#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/messaging/PropertyIds.h"

#include <QtEndian>

namespace parcelon::msg {

using namespace Qt::StringLiterals;
using pst::Result;

namespace {

constexpr std::uint16_t kGuidStream = 0x0002;
constexpr std::uint16_t kEntryStream = 0x0003;
constexpr std::uint16_t kStringStream = 0x0004;
constexpr std::uint32_t kBucketCount = 0x1F;
constexpr std::uint32_t kFirstBucket = 0x1000;
constexpr std::size_t kRecordSize = 8;
// Property indexes have 16 bits: no valid entry stream is longer.
constexpr std::uint64_t kMaxEntryStream = 0x10000 * kRecordSize;

QString streamName(std::uint32_t id)
{
    return u"__substg1.0_"_s + u"%1"_s.arg(id << 16 | pst::PropType::Binary, 8, 16, QChar(u'0')).toUpper();
}

} // namespace

Result<NamedPropertyMap> NamedPropertyMap::read(const pst::Store& store)
{
    NamedPropertyMap map(store, store.where().inside(u"the map of named properties"_s));
    auto entry = store.trees().findNode(pst::WellKnownNid::NameToIdMap);
    if (!entry)
        return entry.error();
    if (!*entry)
        return map;
    auto pc = store.properties(pst::Node{(*entry)->nid, (*entry)->bidData, (*entry)->bidSub}, map.m_where);
    if (!pc)
        return pc.error();
    for (auto [id, target] : {std::pair{kGuidStream, &map.m_guids}, std::pair{kEntryStream, &map.m_entries},
                              std::pair{kStringStream, &map.m_strings}}) {
        const pst::PropertyContext::Entry* e = pc->find(id);
        if (!e)
            continue;
        if (e->value.type != pst::PropType::Binary)
            return pst::corrupt(map.m_where,
                                u"its property %1 has type %2 instead of binary"_s.arg(pst::hex(id), pst::hex(e->value.type)));
        auto location = pc->store().locate(e->value);
        if (!location)
            return location.error();
        *target = std::move(location).value();
    }
    if (map.m_entries && map.m_entries->size() > kMaxEntryStream)
        return pst::corrupt(map.m_where,
                            u"its entry stream holds %1 bytes, more than %2 entries"_s.arg(map.m_entries->size())
                                .arg(kMaxEntryStream / kRecordSize));
    return map;
}

Result<std::vector<std::vector<std::uint8_t>>> NamedPropertyMap::buckets() const
{
    std::vector<std::vector<std::uint8_t>> buckets(kBucketCount);
    if (!m_entries)
        return buckets;
    const pst::Blocks& blocks = m_store->blocks();
    const ValueSource entries(blocks, *m_entries, m_where);
    const ValueSource strings(blocks, m_strings.value_or(pst::ValueLocation{}), m_where);
    std::vector<std::uint8_t> record(kRecordSize);
    for (std::uint64_t at = 0; at + kRecordSize <= entries.size(); at += kRecordSize) {
        if (auto r = entries.read(at, record); !r)
            return r.error();
        const pst::SpanReader rec(record);
        std::uint32_t key = rec.u32(0);
        const std::uint32_t word = rec.u32(4);
        if (word & 1) {
            // A string name: the key is the CRC of its UTF-16LE text.
            const std::uint32_t offset = key;
            std::uint8_t length[4];
            if (offset > strings.size() || strings.size() - offset < 4)
                return pst::corrupt(m_where,
                                    u"entry %1 names a string at %2, outside its %3 bytes of names"_s.arg(at / kRecordSize)
                                        .arg(pst::hex(offset))
                                        .arg(strings.size()));
            if (auto r = strings.read(offset, length); !r)
                return r.error();
            const std::uint32_t bytes = qFromLittleEndian<std::uint32_t>(length);
            key = 0;
            auto hashed = strings.stream(offset + 4, bytes, [&key](pst::Bytes piece) -> Result<void> {
                key = pst::pstCrc(piece, key);
                return {};
            });
            if (!hashed)
                return hashed.error();
        }
        std::vector<std::uint8_t>& bucket = buckets[(key ^ (word & 0xFFFF)) % kBucketCount];
        const std::size_t end = bucket.size();
        bucket.resize(end + kRecordSize);
        qToLittleEndian(key, bucket.data() + end);
        qToLittleEndian(word, bucket.data() + end + 4);
    }
    return buckets;
}

Result<void> NamedPropertyMap::write(CompoundFileWriter& file, CompoundFileWriter::EntryId root) const
{
    auto storage = file.addStorage(root, u"__nameid_version1.0"_s);
    if (!storage)
        return storage.error();
    const pst::Blocks& blocks = m_store->blocks();
    for (auto [id, value] :
         {std::pair{kGuidStream, &m_guids}, std::pair{kEntryStream, &m_entries}, std::pair{kStringStream, &m_strings}}) {
        const ValueSource source(blocks, value->value_or(pst::ValueLocation{}), m_where);
        auto written = file.addStream(*storage, streamName(id), source.size(), [&](const CompoundFileWriter::Sink& sink) {
            return source.stream(0, source.size(), sink);
        });
        if (!written)
            return written;
    }
    auto buckets = this->buckets();
    if (!buckets)
        return buckets.error();
    for (std::uint32_t k = 0; k < kBucketCount; ++k)
        if (!(*buckets)[k].empty())
            if (auto r = file.addStream(*storage, streamName(kFirstBucket + k), (*buckets)[k]); !r)
                return r;
    return {};
}

} // namespace parcelon::msg
