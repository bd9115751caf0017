#pragma once

#include "mailhost/pst/blocks/BTrees.h"
#include "mailhost/pst/bytes/ByteBuffer.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <cstdint>
#include <span>
#include <vector>

namespace parcelon::pst {

// Reads blocks: looks them up in the block B-tree, checks the trailer (size,
// id, signature, checksum), inflates the blocks of 4 KiB-page files and
// decodes data blocks.
class Blocks {
public:
    Blocks(const ByteSource& source, const Header& header, const BTrees& trees)
        : m_source(source), m_header(header), m_trees(trees)
    {
    }

    const Header& header() const { return m_header; }
    const Format& format() const { return m_header.format; }
    const ByteSource& source() const { return m_source; }

    // The block-tree entry of a block; a block that is not there is damage.
    Result<BlockEntry> locate(std::uint64_t bid) const;

    // Reads a located block into `out`. `scratch` holds the stored bytes;
    // both are reused across calls. Needs nothing but the file, so any
    // thread may call it.
    Result<void> readAt(const BlockEntry& entry, std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& scratch) const;

    // How many of `entries`, from the first, lie back to back in the file
    // within `maxBytes` (at least one).
    std::size_t adjacentRun(std::span<const BlockEntry> entries, std::size_t maxBytes) const;

    // Reads blocks that lie back to back in the file with one read and
    // appends their data to `out` (a std::vector or a ByteBuffer of bytes).
    template <class Buffer>
    Result<void> readRun(std::span<const BlockEntry> run, Buffer& out, std::vector<std::uint8_t>& scratch) const;

    Result<std::vector<std::uint8_t>> read(std::uint64_t bid) const;

private:
    // Checks a block's trailer and CRC (`disk` is the block as stored, trailer
    // included).
    Result<void> check(const BlockEntry& entry, Bytes disk) const;
    // Checks the stored bytes of a block and puts its data (cbInflated bytes)
    // into `data`.
    Result<void> unpack(const BlockEntry& entry, Bytes stored, std::span<std::uint8_t> data) const;

    const ByteSource& m_source;
    Header m_header;
    const BTrees& m_trees;
};

} // namespace parcelon::pst
