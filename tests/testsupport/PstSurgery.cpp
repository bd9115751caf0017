#include "testsupport/PstSurgery.h"

#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/bytes/SpanReader.h"
#include "testsupport/TestPaths.h"

#include <gtest/gtest.h>

namespace parcelon::test {

namespace {

pst::Header headerOf(const QByteArray& bytes)
{
    pst::MemorySource source(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), QStringLiteral("image"));
    auto header = pst::Header::read(source);
    EXPECT_TRUE(header.ok());
    return header ? *header : pst::Header{};
}

} // namespace

PstSurgery::PstSurgery(QByteArray bytes) : m_bytes(std::move(bytes)), m_header(headerOf(m_bytes)) {}

std::uint64_t PstSurgery::uint(std::uint64_t offset, std::size_t width) const
{
    const pst::SpanReader r(std::span(reinterpret_cast<const std::uint8_t*>(m_bytes.constData()), m_bytes.size()));
    return r.uint(offset, width);
}

void PstSurgery::setUint(std::uint64_t offset, std::uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        m_bytes[static_cast<qsizetype>(offset + i)] = static_cast<char>(value >> (8 * i));
}

void PstSurgery::fixPageChecksum(std::uint64_t offset)
{
    const pst::Format& f = format();
    const std::size_t t = f.pageTrailerOffset();
    const auto* page = reinterpret_cast<const std::uint8_t*>(m_bytes.constData()) + offset;
    const std::uint32_t crc = pst::pstCrc(std::span(page, t));
    setUint(offset + t + (f.ansi() ? 8 : 4), crc, 4);
}

void PstSurgery::fixBlockChecksum(const pst::BlockEntry& block)
{
    const pst::Format& f = format();
    const auto* data = reinterpret_cast<const std::uint8_t*>(m_bytes.constData()) + block.ib;
    const std::uint64_t trailer = block.ib + f.blockDiskSize(block.cb) - f.blockTrailerSize();
    setUint(trailer + (f.ansi() ? 8 : 4), pst::pstCrc(std::span(data, block.cb)), 4);
}

PstSurgery::EntryPlace PstSurgery::find(bool nodes, std::uint64_t key) const
{
    const pst::Format& f = format();
    const std::size_t id = f.idSize();
    std::uint64_t page = nodes ? m_header.nodeBTree.ib : m_header.blockBTree.ib;
    for (int depth = 0; depth < 8; ++depth) {
        const std::size_t area = f.btEntryAreaSize();
        const std::size_t w = f.btCountWidth();
        const auto count = uint(page + area, w);
        const auto entrySize = uint(page + area + 2 * w, 1);
        const auto level = uint(page + area + 2 * w + 1, 1);
        std::uint64_t chosen = UINT64_MAX;
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t k = uint(page + i * entrySize, id);
            if (nodes)
                k &= 0xFFFFFFFF;
            if (level == 0 && k == key)
                return {page, page + i * entrySize};
            if (level > 0 && k <= key)
                chosen = i;
        }
        if (level == 0 || chosen == UINT64_MAX)
            break;
        page = uint(page + chosen * entrySize + 2 * id, id);
    }
    ADD_FAILURE() << "no B-tree entry for " << key;
    return {};
}

PstSurgery::EntryPlace PstSurgery::blockEntry(std::uint64_t bid) const
{
    return find(false, bid & ~std::uint64_t(1));
}

PstSurgery::EntryPlace PstSurgery::nodeEntry(std::uint32_t nid) const
{
    return find(true, nid);
}

QString PstSurgery::save(const QString& path) const
{
    writeFile(path, m_bytes);
    return path;
}

} // namespace parcelon::test
