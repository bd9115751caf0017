#pragma once

#include "mailhost/pst/blocks/DataTree.h"
#include "mailhost/pst/bytes/Error.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace parcelon::smime {

// The stored bytes of a wrapper attachment, read at any offset. Reads come
// from one thread at a time.
class WrapperSource {
public:
    virtual ~WrapperSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills `buffer` with the bytes from `offset`; all of them must be there.
    virtual pst::Result<void> read(std::uint64_t offset, std::span<std::uint8_t> buffer) const = 0;
};

// Bytes held in memory.
class MemoryWrapperSource final : public WrapperSource {
public:
    explicit MemoryWrapperSource(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    pst::Result<void> read(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;
    pst::Bytes bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

// The data tree of a value in a PST file, read block by block (each block's
// checksum passed); the last block read is kept. `keepAlive` holds what
// `blocks` belongs to.
class DataTreeWrapperSource final : public WrapperSource {
public:
    DataTreeWrapperSource(std::shared_ptr<const void> keepAlive, const pst::Blocks& blocks, pst::DataTree tree);
    std::uint64_t size() const override { return m_tree.size(); }
    pst::Result<void> read(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;

private:
    pst::Result<void> load(std::size_t leaf) const;

    std::shared_ptr<const void> m_keepAlive;
    const pst::Blocks& m_blocks;
    pst::DataTree m_tree;
    std::vector<std::uint64_t> m_starts; // offset of each leaf's first byte
    mutable std::size_t m_loaded = SIZE_MAX;
    mutable std::vector<std::uint8_t> m_block;
    mutable std::vector<std::uint8_t> m_scratch;
};

} // namespace parcelon::smime
