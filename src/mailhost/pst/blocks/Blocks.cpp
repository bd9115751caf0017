#include "mailhost/pst/blocks/Blocks.h"

#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/bytes/Inflate.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <algorithm>
#include <cstring>

namespace parcelon::pst {

Result<BlockEntry> Blocks::locate(std::uint64_t bid) const
{
    auto found = m_trees.findBlock(bid);
    if (!found)
        return found.error();
    if (!*found)
        return corrupt(Where{m_source.name(), {}},
                       QStringLiteral("block %1 is missing from the block B-tree").arg(hex(cleanBid(bid))));
    return **found;
}

Result<void> Blocks::check(const BlockEntry& entry, Bytes disk) const
{
    const Format& f = m_header.format;
    auto fail = [&](const QString& what) {
        return corrupt(Where{m_source.name(), {}},
                       QStringLiteral("block %1 at offset %2 is damaged (%3)").arg(hex(entry.bid), hex(entry.ib), what));
    };
    const SpanReader b(disk);
    const auto [cb, sig, crc, bid] = readBlockTrailer(f, disk);
    if (cb != entry.cb)
        return fail(QStringLiteral("its trailer gives %1 bytes where the block B-tree gives %2").arg(cb).arg(entry.cb));
    if (bid != entry.bid)
        return fail(QStringLiteral("its trailer names block %1").arg(hex(bid)));
    if (sig != 0 && sig != blockSignature(entry.ib, entry.bid))
        return fail(QStringLiteral("signature %1 instead of %2").arg(hex(sig), hex(blockSignature(entry.ib, entry.bid))));
    if (crc != 0) {
        const std::uint32_t computed = pstCrc(b.slice(0, entry.cb));
        if (crc != computed)
            return fail(QStringLiteral("checksum %1 instead of %2").arg(hex(crc), hex(computed)));
    }
    return {};
}

Result<void> Blocks::unpack(const BlockEntry& entry, Bytes disk, std::span<std::uint8_t> data) const
{
    if (auto r = check(entry, disk); !r)
        return r;
    const Bytes stored = disk.first(entry.cb);
    if (m_header.format.fourK() && entry.cbInflated != entry.cb) {
        if (!inflateZlib(stored, data))
            return corrupt(Where{m_source.name(), {}},
                           QStringLiteral("block %1 at offset %2 is damaged (its compressed data does not inflate to %3 bytes)")
                               .arg(hex(entry.bid), hex(entry.ib))
                               .arg(entry.cbInflated));
        if (!isInternalBid(entry.bid))
            decodeBlock(m_header.encoding, data, entry.bid);
    } else if (isInternalBid(entry.bid)) {
        std::copy(stored.begin(), stored.end(), data.begin());
    } else {
        decodeBlockInto(m_header.encoding, stored, data.data(), entry.bid);
    }
    return {};
}

namespace {

Result<void> checkSize(const Format& f, const BlockEntry& entry, const ByteSource& source)
{
    if (entry.cb > f.maxBlockData() || entry.cbInflated > f.maxBlockData() || (!f.fourK() && entry.cbInflated != entry.cb))
        return corrupt(Where{source.name(), {}},
                       QStringLiteral("block %1 at offset %2 is damaged (a size of %3 bytes)")
                           .arg(hex(entry.bid), hex(entry.ib))
                           .arg(entry.cb));
    return {};
}

} // namespace

Result<void> Blocks::readAt(const BlockEntry& entry, std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& scratch) const
{
    out.clear();
    return readRun(std::span(&entry, 1), out, scratch);
}

std::size_t Blocks::adjacentRun(std::span<const BlockEntry> entries, std::size_t maxBytes) const
{
    const Format& f = m_header.format;
    std::size_t count = 1;
    std::uint64_t end = entries[0].ib + f.blockDiskSize(entries[0].cb);
    std::size_t bytes = f.blockDiskSize(entries[0].cb);
    while (count < entries.size() && entries[count].ib == end) {
        const std::size_t size = f.blockDiskSize(entries[count].cb);
        if (bytes + size > maxBytes)
            break;
        bytes += size;
        end += size;
        ++count;
    }
    return count;
}

template <class Buffer>
Result<void> Blocks::readRun(std::span<const BlockEntry> run, Buffer& out, std::vector<std::uint8_t>& scratch) const
{
    const Format& f = m_header.format;
    std::size_t total = 0;
    for (const BlockEntry& entry : run) {
        if (auto r = checkSize(f, entry, m_source); !r)
            return r;
        total += f.blockDiskSize(entry.cb);
    }
    const std::size_t start = out.size();
    if (f.fourK()) {
        // Blocks may inflate: read them aside.
        scratch.resize(total);
        if (auto r = m_source.read(run.front().ib, scratch); !r)
            return r.error().withContext(QStringLiteral("block %1").arg(hex(run.front().bid)));
        std::size_t offset = 0;
        for (const BlockEntry& entry : run) {
            const std::size_t size = f.blockDiskSize(entry.cb);
            const std::size_t at = out.size();
            out.resize(at + entry.cbInflated);
            if (auto r = unpack(entry, Bytes(scratch).subspan(offset, size), std::span(out).subspan(at)); !r) {
                out.resize(start);
                return r;
            }
            offset += size;
        }
        return {};
    }
    // Read straight into `out`, then check each block and decode its data
    // down over the trailers and padding before it.
    out.resize(start + total);
    if (auto r = m_source.read(run.front().ib, std::span(out).subspan(start)); !r) {
        out.resize(start);
        return r.error().withContext(QStringLiteral("block %1").arg(hex(run.front().bid)));
    }
    std::size_t disk = start, end = start;
    for (const BlockEntry& entry : run) {
        const std::size_t size = f.blockDiskSize(entry.cb);
        if (auto r = check(entry, Bytes(out).subspan(disk, size)); !r) {
            out.resize(start);
            return r;
        }
        const Bytes stored = Bytes(out).subspan(disk, entry.cb);
        if (isInternalBid(entry.bid))
            std::memmove(out.data() + end, stored.data(), stored.size());
        else
            decodeBlockInto(m_header.encoding, stored, out.data() + end, entry.bid);
        end += entry.cb;
        disk += size;
    }
    out.resize(end);
    return {};
}

template Result<void> Blocks::readRun(std::span<const BlockEntry>, std::vector<std::uint8_t>&, std::vector<std::uint8_t>&) const;
template Result<void> Blocks::readRun(std::span<const BlockEntry>, ByteBuffer&, std::vector<std::uint8_t>&) const;

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
