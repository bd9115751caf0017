#pragma once

#include "mailhost/pst/blocks/DataTree.h"
#include "mailhost/pst/bytes/ByteSource.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace parcelon::smime {

// The bytes of a value in a PST file (a wrapper attachment's data), read at
// any offset block by block, each block's checksum passed; the last block
// read is kept. `keepAlive` holds what `blocks` belongs to; `where` says
// which value it is. It has no second reader for another thread.
class DataTreeSource final : public pst::ByteSource {
public:
    DataTreeSource(std::shared_ptr<const void> keepAlive, const pst::Blocks& blocks, pst::DataTree tree, pst::Where where);

    std::uint64_t size() const override { return m_tree.size(); }
    pst::Result<void> read(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;
    const QString& name() const override { return m_name; }
    pst::Where where() const override { return m_where; }
    std::unique_ptr<pst::ByteSource> duplicate() const override { return nullptr; }

private:
    pst::Result<void> load(std::size_t leaf) const;

    std::shared_ptr<const void> m_keepAlive;
    const pst::Blocks& m_blocks;
    pst::DataTree m_tree;
    pst::Where m_where;
    QString m_name;
    std::vector<std::uint64_t> m_starts; // offset of each leaf's first byte
    mutable std::size_t m_loaded = SIZE_MAX;
    mutable std::vector<std::uint8_t> m_block;
    mutable std::vector<std::uint8_t> m_scratch;
};

} // namespace parcelon::smime
