#include "mailhost/pst/blocks/Header.h"

#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <array>

namespace parcelon::pst {

namespace {

constexpr std::size_t kUnicodeHeaderSize = 564;
constexpr std::size_t kAnsiHeaderSize = 512;

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

    if (h.u32(0) != 0x4E444221) // "!BDN"
        return Error(ErrorKind::NotPst,
                     QStringLiteral("%1 is not a PST file (it does not start with the PST signature)").arg(source.name()));
    const std::uint16_t client = h.u16(8);
    if (client != 0x4D53 && client != 0x4F53 && client != 0x4241) // "SM", "SO", "AB"
        return Error(ErrorKind::NotPst,
                     QStringLiteral("%1 is not a PST file (unknown client signature %2)").arg(source.name(), hex(client)));

    Header header;
    header.version = h.u16(10);
    header.ost = client == 0x4F53;
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
    header.checksumsWrong = h.u32(4) != pstCrc(h.slice(8, 471)) || (!ansi && h.u32(524) != pstCrc(h.slice(8, 516)));

    const std::uint8_t crypt = h.u8(ansi ? 461 : 513);
    if (crypt > 2)
        return Error(ErrorKind::Unsupported, Where{source.name(), {}},
                     QStringLiteral("data encoding %1 is not supported").arg(crypt));
    header.encoding = static_cast<Encoding>(crypt);

    if (ansi) {
        header.fileEof = h.u32(168);
        header.nodeBTree = {h.u32(184), h.u32(188)};
        header.blockBTree = {h.u32(192), h.u32(196)};
        header.amapValid = h.u8(200) == 1 || h.u8(200) == 2;
    } else {
        header.fileEof = h.u64(184);
        header.nodeBTree = {h.u64(216), h.u64(224)};
        header.blockBTree = {h.u64(232), h.u64(240)};
        header.amapValid = h.u8(248) == 1 || h.u8(248) == 2;
    }
    if (header.checksumsWrong)
        header.amapValid = false;
    return header;
}

} // namespace parcelon::pst
