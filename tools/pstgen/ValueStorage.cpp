#include "pstgen/ValueStorage.h"

#include "pstgen/DataTreeWriter.h"

#include <QDateTime>
#include <QtEndian>

namespace parcelon::pstgen {

std::uint32_t storeValue(std::span<const std::uint8_t> value, HeapBuilder& heap, NdbWriter& ndb, SubnodeList& subnodes)
{
    if (value.empty())
        return 0;
    if (value.size() <= HeapBuilder::kMaxAllocation)
        return heap.allocate(value);
    const std::uint32_t nid = subnodes.allocate(0x1F);
    subnodes.add(nid, DataTreeWriter::write(ndb, value), 0);
    return nid;
}

QByteArray utf16le(const QString& text)
{
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    auto* p = reinterpret_cast<uchar*>(out.data());
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), p + 2 * i);
    return out;
}

std::uint64_t fileTime(const QDateTime& time)
{
    constexpr std::int64_t kEpochDifference = 116444736000000000LL; // 1601 to 1970 in 100 ns
    return std::uint64_t(time.toMSecsSinceEpoch() * 10000 + kEpochDifference);
}

} // namespace parcelon::pstgen
