#pragma once

#include "pstgen/NdbWriter.h"

#include <cstdint>
#include <vector>

namespace parcelon::pstgen {

// The subnodes of one node (a message's tables, attachments and large
// values; an attachment's embedded message, ...) and the node ids handed
// out among them.
class SubnodeList {
public:
    // A node id of `type` not yet used in this list.
    std::uint32_t allocate(std::uint8_t type);
    void add(std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub);
    bool empty() const { return m_entries.empty(); }
    std::size_t size() const { return m_entries.size(); }

    // Writes the SLBLOCK (with an SIBLOCK above several of them when they do
    // not fit one); returns its id, 0 when there are no subnodes.
    std::uint64_t write(NdbWriter& ndb);

private:
    struct Entry {
        std::uint32_t nid;
        std::uint64_t bidData;
        std::uint64_t bidSub;
    };

    std::vector<Entry> m_entries;
    std::uint32_t m_next[32] = {};
};

} // namespace parcelon::pstgen
