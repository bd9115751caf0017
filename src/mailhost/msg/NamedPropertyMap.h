#pragma once

#include "mailhost/msg/CompoundFileWriter.h"
#include "mailhost/pst/messaging/Store.h"

#include <optional>
#include <vector>

namespace parcelon::msg {

// The store's map of named properties (ids 0x8000 and up), written into a
// .msg file as its __nameid_version1.0 storage: the GUID, entry and string
// streams as the store keeps them, and the hash buckets rebuilt for the
// .msg's 31 buckets.
class NamedPropertyMap {
public:
    // The map of `store`; a store without one gives an empty map.
    static pst::Result<NamedPropertyMap> read(const pst::Store& store);

    pst::Result<void> write(CompoundFileWriter& file, CompoundFileWriter::EntryId root) const;

private:
    NamedPropertyMap(const pst::Store& store, pst::Where where) : m_store(&store), m_where(std::move(where)) {}

    pst::Result<std::vector<std::vector<std::uint8_t>>> buckets() const;

    const pst::Store* m_store;
    pst::Where m_where;
    std::optional<pst::ValueLocation> m_guids, m_entries, m_strings;
};

} // namespace parcelon::msg
