#pragma once

#include "mailhost/pst/bytes/ByteSource.h"
#include "mailhost/pst/tables/PropertyContext.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace parcelon::msg {

// Random access to a stored value: bytes from the heap, or a data tree
// whose leaves are read one at a time (the last one read is kept).
class ValueSource final : public pst::ByteSource {
public:
    ValueSource(const pst::Blocks& blocks, pst::ValueLocation value, pst::Where where);

    std::uint64_t size() const override { return m_value.size(); }
    pst::Result<void> read(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;
    const QString& name() const override { return m_name; }
    pst::Where where() const override { return m_where; }
    std::unique_ptr<pst::ByteSource> duplicate() const override
    {
        return std::make_unique<ValueSource>(*m_blocks, m_value, m_where);
    }

    // Gives the bytes [offset, offset + count) to `sink` in pieces of at
    // most one leaf.
    pst::Result<void> stream(std::uint64_t offset, std::uint64_t count,
                             const std::function<pst::Result<void>(pst::Bytes)>& sink) const;

private:
    pst::Result<pst::Bytes> leafAt(std::uint64_t offset, std::uint64_t& leafStart) const;

    const pst::Blocks* m_blocks;
    pst::ValueLocation m_value;
    pst::Where m_where;
    QString m_name;
    std::vector<std::uint64_t> m_leafStarts;
    mutable std::size_t m_loaded = SIZE_MAX;
    mutable std::vector<std::uint8_t> m_leaf;
    mutable std::vector<std::uint8_t> m_scratch;
};

} // namespace parcelon::msg
