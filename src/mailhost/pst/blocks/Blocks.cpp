#include "mailhost/pst/blocks/Blocks.h"

#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <zlib.h>

namespace parcelon::pst {

Result<BlockEntry> Blocks::locate(std::uint64_t bid) const
{
    auto found = m_trees.findBlock(bid);
    if (!found)
        return found.error();
    if (!*found)
        return corrupt(QStringLiteral("%1: block %2 is missing from the block B-tree").arg(m_source.name(), hex(cleanBid(bid))));
    return **found;
}

Result<void> Blocks::readAt(const BlockEntry& entry, std::vector<std::uint8_t>& out,
                            std::vector<std::uint8_t>& scratch) const
{
    const Format& f = m_header.format;
    auto fail = [&](const QString& what) {
        return corrupt(QStringLiteral("%1: block %2 at offset %3 is damaged (%4)")
                           .arg(m_source.name(), hex(entry.bid), hex(entry.ib), what));
    };
    const bool compressed = f.fourK() && entry.cbInflated != entry.cb;
    if (entry.cb > f.maxBlockData() || entry.cbInflated > f.maxBlockData() || (!f.fourK() && entry.cbInflated != entry.cb))
        return fail(QStringLiteral("a size of %1 bytes").arg(entry.cb));

    const std::size_t diskSize = f.blockDiskSize(entry.cb);
    scratch.resize(diskSize);
    if (auto r = m_source.read(entry.ib, scratch); !r)
        return r.error().context(QStringLiteral("reading block %1").arg(hex(entry.bid)));
    const SpanReader b(scratch);
    const std::size_t t = diskSize - f.blockTrailerSize();
    const std::uint16_t cb = b.u16(t);
    const std::uint16_t sig = b.u16(t + 2);
    const std::uint32_t crc = f.ansi() ? b.u32(t + 8) : b.u32(t + 4);
    const std::uint64_t bid = f.ansi() ? b.u32(t + 4) : b.u64(t + 8);
    if (cb != entry.cb)
        return fail(QStringLiteral("its trailer gives %1 bytes where the block B-tree gives %2").arg(cb).arg(entry.cb));
    if (bid != entry.bid)
        return fail(QStringLiteral("its trailer names block %1").arg(hex(bid)));
    if (sig != 0 && sig != blockSignature(entry.ib, entry.bid))
        return fail(QStringLiteral("signature %1 instead of %2").arg(hex(sig), hex(blockSignature(entry.ib, entry.bid))));
    const Bytes stored = b.slice(0, entry.cb);
    if (crc != 0) {
        const std::uint32_t computed = pstCrc(stored);
        if (crc != computed)
            return fail(QStringLiteral("checksum %1 instead of %2").arg(hex(crc), hex(computed)));
    }

    if (compressed) {
        out.resize(entry.cbInflated);
        uLongf size = entry.cbInflated;
        const int z = ::uncompress(out.data(), &size, stored.data(), stored.size());
        if (z != Z_OK || size != entry.cbInflated)
            return fail(QStringLiteral("its compressed data does not inflate to %1 bytes").arg(entry.cbInflated));
    } else {
        out.assign(stored.begin(), stored.end());
    }
    if (!isInternalBid(entry.bid))
        decodeBlock(m_header.encoding, out, entry.bid);
    return {};
}

Result<std::vector<std::uint8_t>> Blocks::read(std::uint64_t bid) const
{
    auto entry = locate(bid);
    if (!entry)
        return entry.error();
    std::vector<std::uint8_t> out, scratch;
    if (auto r = readAt(*entry, out, scratch); !r)
        return r.error();
    return out;
}

} // namespace parcelon::pst
