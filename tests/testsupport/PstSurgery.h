#pragma once

#include "mailhost/pst/blocks/BTrees.h"
#include "mailhost/pst/blocks/Header.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace parcelon::test {

// A PST file's bytes in memory, with the means to damage one structure
// precisely: B-tree entries are found by walking the pages, and checksums
// can be recomputed after an edit so that a deeper check is the one that
// fires. The structure edits below (of blocks stored uncompressed) keep
// every checksum right, so that a file's structures can be made to lead to
// the same objects again and again.
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

    // A field of the structure at file offset `base` (see format().layouts()).
    std::uint64_t field(std::uint64_t base, pst::Field field) const { return uint(base + field.offset, field.size); }
    void setField(std::uint64_t base, pst::Field field, std::uint64_t value) { setUint(base + field.offset, value, field.size); }

    // What a B-tree page at `offset` says of its entries, and the page that
    // entry `index` of a page above the leaves leads to.
    struct PageShape {
        std::uint64_t count = 0;
        std::uint64_t entrySize = 0;
        std::uint64_t level = 0;
    };
    PageShape pageShape(std::uint64_t offset) const;
    pst::BlockRef child(std::uint64_t page, std::uint64_t index) const;

    // Recomputes the checksum of the page at `offset`, of a block, or the header's.
    void fixPageChecksum(std::uint64_t offset);
    void fixBlockChecksum(const pst::BlockEntry& block);
    void fixHeaderChecksums();

    QString save(const QString& path) const;

    // A node as its B-tree entry gives it, and a new data and subnode block for it.
    pst::NodeEntry node(std::uint32_t nid) const;
    void setNode(std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub);
    void setParent(std::uint32_t nid, std::uint32_t parent);

    // The block with id `bid`, and the one whose bytes hold file offset `offset`.
    pst::BlockEntry block(std::uint64_t bid) const;
    pst::BlockEntry blockHolding(std::uint64_t offset) const;

    // The entries of a subnode block of one level, and a new data and
    // subnode block for one of them.
    struct Subnode {
        std::uint32_t nid = 0;
        std::uint64_t bidData = 0;
        std::uint64_t bidSub = 0;
    };
    std::vector<Subnode> subnodes(std::uint64_t bid) const;
    void setSubnode(std::uint64_t bid, std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub);

    // Replaces `from` by `to` (of the same size) wherever it occurs within
    // the data of block `bid` (the blocks an index block names), or in the
    // whole file's blocks (bid 0), and mends the checksum of every block
    // changed; returns how many were replaced.
    int replace(const QByteArray& from, const QByteArray& to, std::uint64_t bid = 0);

private:
    EntryPlace find(bool nodes, std::uint64_t key) const;
    pst::BlockEntry blockEntryAt(std::uint64_t offset) const;
    void forEachBlock(const std::function<void(const pst::BlockEntry&)>& visit) const;
    int replaceWithin(const QByteArray& from, const QByteArray& to, std::uint64_t begin, std::uint64_t end);

    QByteArray m_bytes;
    pst::Header m_header;
};

} // namespace parcelon::test
