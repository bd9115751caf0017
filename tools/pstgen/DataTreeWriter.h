#pragma once

#include "pstgen/NdbWriter.h"

#include <cstdint>
#include <span>
#include <vector>

namespace parcelon::pstgen {

// Writes one node's data stream as it arrives: full data blocks go to disk
// at once; finish() adds the XBLOCK (or XXBLOCK level) that lists them.
class DataTreeWriter {
public:
    explicit DataTreeWriter(NdbWriter& ndb);

    void append(std::span<const std::uint8_t> bytes);
    // The id of the stream's root block; 0 for an empty stream.
    std::uint64_t finish();

    std::uint64_t size() const { return m_size; }

    // The whole of `bytes` as one data tree.
    static std::uint64_t write(NdbWriter& ndb, std::span<const std::uint8_t> bytes);

private:
    std::uint64_t writeIndex(std::uint8_t level, std::span<const std::uint64_t> children, std::uint64_t total);

    NdbWriter& m_ndb;
    std::vector<std::uint8_t> m_pending;
    std::vector<std::uint64_t> m_leaves;
    std::vector<std::uint32_t> m_leafSizes;
    std::uint64_t m_size = 0;
};

} // namespace parcelon::pstgen
