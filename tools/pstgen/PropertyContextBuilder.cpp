#include "pstgen/PropertyContextBuilder.h"

#include "pstgen/RecordBuffer.h"
#include "pstgen/ValueStorage.h"

namespace parcelon::pstgen {

namespace {

constexpr std::uint8_t kPropertyContext = 0xBC;
constexpr std::size_t kRecordSize = 8; // wPropId, wPropType, dwValueHnid

std::span<const std::uint8_t> asBytes(const QByteArray& b)
{
    return {reinterpret_cast<const std::uint8_t*>(b.constData()), std::size_t(b.size())};
}

} // namespace

void PropertyContextBuilder::setInteger(std::uint32_t tag, std::uint32_t value)
{
    Value v;
    v.type = std::uint16_t(tag);
    v.inlineValue = value;
    v.isInline = true;
    v.size = 4;
    m_values[std::uint16_t(tag >> 16)] = v;
}

void PropertyContextBuilder::setInteger64(std::uint32_t tag, std::uint64_t value)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian<quint64>(value, bytes.data());
    setBinary(tag, bytes);
}

void PropertyContextBuilder::setString(std::uint32_t tag, const QString& value)
{
    setBinary(m_text.tag(tag), m_text.encode(value));
}

void PropertyContextBuilder::setBinary(std::uint32_t tag, QByteArray value)
{
    Value v;
    v.type = std::uint16_t(tag);
    v.size = std::uint64_t(value.size());
    v.bytes = std::move(value);
    m_values[std::uint16_t(tag >> 16)] = v;
}

void PropertyContextBuilder::setSubnode(std::uint32_t tag, std::uint32_t nid, std::uint64_t size)
{
    Value v;
    v.type = std::uint16_t(tag);
    v.inlineValue = nid;
    v.inSubnode = true;
    v.size = size;
    m_values[std::uint16_t(tag >> 16)] = v;
}

void PropertyContextBuilder::setObject(std::uint32_t tag, std::uint32_t nid, std::uint32_t size)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian<quint32>(nid, bytes.data());
    qToLittleEndian<quint32>(size, bytes.data() + 4);
    setBinary(tag, bytes);
    m_values[std::uint16_t(tag >> 16)].size = size;
}

std::uint64_t PropertyContextBuilder::valueSize() const
{
    std::uint64_t total = 0;
    for (const auto& [id, v] : m_values)
        total += v.size;
    return total;
}

std::uint64_t PropertyContextBuilder::write(NdbWriter& ndb, SubnodeList& subnodes) const
{
    constexpr std::size_t kMaxRecords = HeapBuilder::kMaxAllocation / kRecordSize;
    if (m_values.size() > kMaxRecords) {
        ndb.fail(pst::Error(pst::ErrorKind::Unsupported, QStringLiteral("%1 properties on one object").arg(m_values.size())));
        return 0;
    }
    // Outlook's order: BTree header, records, then the values.
    HeapBuilder heap(ndb.geometry(), kPropertyContext);
    const std::uint32_t header = heap.reserve(8);
    const std::uint32_t records = m_values.empty() ? 0 : heap.reserve(m_values.size() * kRecordSize);

    RecordBuffer recordBytes(m_values.size() * kRecordSize);
    for (const auto& [id, v] : m_values) {
        std::uint32_t hnid = v.inlineValue;
        if (!v.isInline && !v.inSubnode)
            hnid = storeValue(asBytes(v.bytes), heap, ndb, subnodes);
        recordBytes.u16(id).u16(v.type).u32(hnid);
    }
    if (records)
        std::ranges::copy(recordBytes.span(), heap.bytes(records).begin());

    RecordBuffer bth(8);
    bth.u8(0xB5).u8(2).u8(6).u8(0).u32(records); // bType, cbKey, cbEnt, bIdxLevels, hidRoot
    std::ranges::copy(bth.span(), heap.bytes(header).begin());
    heap.setRoot(header);
    return heap.write(ndb);
}

} // namespace parcelon::pstgen
