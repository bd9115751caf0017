#pragma once

#include "mailhost/pst/blocks/BTrees.h"
#include "mailhost/pst/blocks/Header.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace parcelon::test {

// A PST file's bytes in memory, with the means to damage one structure
// precisely: B-tree entries are found by walking the pages, and checksums
// can be recomputed after an edit so that a deeper check is the one that
// fires.
class PstSurgery {
public:
    explicit PstSurgery(QByteArray bytes);

    QByteArray& bytes() { return m_bytes; }
    const pst::Header& header() const { return m_header; }
    const pst::Format& format() const { return m_header.format; }

    // Where a leaf entry of a B-tree lies: the page's offset and the entry's.
    struct EntryPlace {
        std::uint64_t pageOffset = 0;
        std::uint64_t entryOffset = 0;
    };
    EntryPlace blockEntry(std::uint64_t bid) const;
    EntryPlace nodeEntry(std::uint32_t nid) const;

    void setUint(std::uint64_t offset, std::uint64_t value, std::size_t width);
    std::uint64_t uint(std::uint64_t offset, std::size_t width) const;
    void flipByte(std::uint64_t offset) { m_bytes[static_cast<qsizetype>(offset)] ^= 0x5A; }

    // Recomputes the checksum of the page at `offset`, or of a block.
    void fixPageChecksum(std::uint64_t offset);
    void fixBlockChecksum(const pst::BlockEntry& block);

    QString save(const QString& path) const;

private:
    EntryPlace find(bool nodes, std::uint64_t key) const;

    QByteArray m_bytes;
    pst::Header m_header;
};

} // namespace parcelon::test
