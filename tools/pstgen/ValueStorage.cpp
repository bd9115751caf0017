#include "pstgen/ValueStorage.h"

#include "pstgen/DataTreeWriter.h"

#include <QDateTime>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QtEndian>

#include <map>
#include <memory>

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

namespace {

QByteArray codecName(int codePage)
{
    if (codePage == 65001)
        return "UTF-8";
    if (codePage == 20127)
        return "US-ASCII";
    if (codePage >= 28591 && codePage <= 28605)
        return "ISO-8859-" + QByteArray::number(codePage - 28590);
    return "windows-" + QByteArray::number(codePage);
}

// One encoder and decoder per code page, kept for the process.
struct Codec {
    QStringEncoder encoder;
    QStringDecoder decoder;
};

Codec* codecFor(int codePage)
{
    thread_local std::map<int, std::unique_ptr<Codec>> codecs;
    auto& slot = codecs[codePage];
    if (!slot) {
        const QByteArray name = codecName(codePage);
        slot.reset(new Codec{QStringEncoder(name.constData(), QStringConverter::Flag::Stateless),
                             QStringDecoder(name.constData(), QStringConverter::Flag::Stateless)});
    }
    return slot->encoder.isValid() && slot->decoder.isValid() ? slot.get() : nullptr;
}

} // namespace

TextEncoding::TextEncoding(NdbWriter& ndb, int codePage) : m_ndb(&ndb), m_ansi(ndb.geometry().ansi()), m_codePage(codePage)
{
}

bool TextEncoding::knows(int codePage)
{
    return codecFor(codePage) != nullptr;
}

std::uint32_t TextEncoding::tag(std::uint32_t tag) const
{
    constexpr std::uint32_t kString = 0x001F;
    constexpr std::uint32_t kString8 = 0x001E;
    return m_ansi && (tag & 0xFFFF) == kString ? (tag & 0xFFFF0000) | kString8 : tag;
}

QByteArray TextEncoding::encode(const QString& text) const
{
    if (!m_ansi)
        return utf16le(text);
    Codec* codec = codecFor(m_codePage);
    if (!codec) {
        m_ndb->fail(pst::Error(pst::ErrorKind::Unsupported, QStringLiteral("code page %1 is not known").arg(m_codePage)));
        return {};
    }
    // Characters the code page lacks come out as substitutes: such a text
    // does not come back.
    codec->encoder.resetState();
    codec->decoder.resetState();
    QByteArray bytes = codec->encoder.encode(text);
    if (QString(codec->decoder.decode(bytes)) != text) {
        m_ndb->fail(pst::Error(pst::ErrorKind::Unsupported,
                               QStringLiteral("\"%1\" cannot be written in code page %2").arg(text).arg(m_codePage)));
    }
    return bytes;
}

std::uint64_t fileTime(const QDateTime& time)
{
    constexpr std::int64_t kEpochDifference = 116444736000000000LL; // 1601 to 1970 in 100 ns
    return std::uint64_t(time.toMSecsSinceEpoch() * 10000 + kEpochDifference);
}

} // namespace parcelon::pstgen
