#pragma once

#include "mailhost/pst/blocks/Blocks.h"

#include <cstdint>
#include <vector>

namespace parcelon::pst {

struct SubnodeEntry {
    Nid nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
};

// The subnodes of a node: SLBLOCKs, possibly below SIBLOCKs, read into one
// table sorted by id.
class SubnodeTree {
public:
    SubnodeTree() = default;

    // bid 0 gives a node without subnodes.
    static Result<SubnodeTree> open(const Blocks& blocks, std::uint64_t bid);

    const SubnodeEntry* find(Nid nid) const;
    const std::vector<SubnodeEntry>& entries() const { return m_entries; }

private:
    std::vector<SubnodeEntry> m_entries;
};

} // namespace parcelon::pst
