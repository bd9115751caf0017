#include "mailhost/pst/blocks/Header.h"

#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <array>

namespace parcelon::pst {

namespace {

constexpr std::size_t kUnicodeHeaderSize = layout::kUnicodeHeader.size();
constexpr std::size_t kAnsiHeaderSize = layout::kAnsiHeader.size();

constexpr std::uint32_t kMagic = 0x4E444221; // "!BDN"
constexpr std::uint16_t kClientPst = 0x4D53; // "SM"
constexpr std::uint16_t kClientOst = 0x4F53; // "SO"
constexpr std::uint16_t kClientPab = 0x4241; // "AB"

// What the header holds before its variant is known lies alike in both.
constexpr const layout::Header& kCommon = layout::kAnsiHeader;
static_assert(kCommon.dwMagic.offset == layout::kUnicodeHeader.dwMagic.offset
              && kCommon.wMagicClient.offset == layout::kUnicodeHeader.wMagicClient.offset
              && kCommon.wVer.offset == layout::kUnicodeHeader.wVer.offset);

Error damaged(const ByteSource& source, const QString& reason)
{
    return corrupt(Where{source.name(), {}}, QStringLiteral("the PST file header is damaged (%1)").arg(reason));
}

} // namespace

Result<Header> Header::read(const ByteSource& source)
{
    std::array<std::uint8_t, kUnicodeHeaderSize> bytes{};
    if (source.size() < kAnsiHeaderSize)
        return Error(ErrorKind::NotPst,
                     QStringLiteral("%1 is not a PST file (it is only %2 bytes long)").arg(source.name()).arg(source.size()));
    const std::size_t available = source.size() < kUnicodeHeaderSize ? kAnsiHeaderSize : kUnicodeHeaderSize;
    if (auto r = source.read(0, std::span(bytes).first(available)); !r)
        return r.error();
    const SpanReader h(std::span<const std::uint8_t>(bytes).first(available));

    if (h.field(kCommon.dwMagic) != kMagic)
        return Error(ErrorKind::NotPst,
                     QStringLiteral("%1 is not a PST file (it does not start with the PST signature)").arg(source.name()));
    const auto client = static_cast<std::uint16_t>(h.field(kCommon.wMagicClient));
    if (client != kClientPst && client != kClientOst && client != kClientPab)
        return Error(ErrorKind::NotPst,
                     QStringLiteral("%1 is not a PST file (unknown client signature %2)").arg(source.name(), hex(client)));

    Header header;
    header.version = static_cast<std::uint16_t>(h.field(kCommon.wVer));
    header.ost = client == kClientOst;
    if (header.version == 14 || header.version == 15)
        header.format.variant = Variant::Ansi;
    else if (header.version >= 20 && header.version <= 23)
        header.format.variant = Variant::Unicode;
    else if (header.version == 36)
        header.format.variant = Variant::Unicode4k;
    else
        return Error(ErrorKind::Unsupported, Where{source.name(), {}},
                     QStringLiteral("PST file version %1 is not supported").arg(header.version));

    const bool ansi = header.format.ansi();
    if (!ansi && available < kUnicodeHeaderSize)
        return damaged(source, QStringLiteral("the file ends inside the header"));

    // A header whose checksums fail may still lead to pages that check out;
    // what it says is only trusted as far as they do.
    const layout::Header& l = header.format.layouts().header;
    const auto crcOf = [&](Field bytes) { return pstCrc(h.slice(bytes.offset, bytes.size)); };
    header.checksumsWrong = h.field(l.dwCRCPartial) != crcOf(l.partialCrcBytes)
        || (l.dwCRCFull.size != 0 && h.field(l.dwCRCFull) != crcOf(l.fullCrcBytes));

    const auto crypt = static_cast<std::uint8_t>(h.field(l.bCryptMethod));
    if (crypt > 2)
        return Error(ErrorKind::Unsupported, Where{source.name(), {}},
                     QStringLiteral("data encoding %1 is not supported").arg(crypt));
    header.encoding = static_cast<Encoding>(crypt);

    const layout::Root& root = header.format.layouts().root;
    const std::size_t r = l.root.offset;
    header.fileEof = h.field(root.ibFileEof, r);
    header.nodeBTree = readBref(header.format, h, r + root.BREFNBT.offset);
    header.blockBTree = readBref(header.format, h, r + root.BREFBBT.offset);
    const std::uint64_t amap = h.field(root.fAMapValid, r);
    header.amapValid = amap == 1 || amap == 2;
    if (header.checksumsWrong)
        header.amapValid = false;
    return header;
}

} // namespace parcelon::pst
