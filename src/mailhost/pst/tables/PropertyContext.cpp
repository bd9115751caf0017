#include "mailhost/pst/tables/PropertyContext.h"

#include "mailhost/pst/tables/BTreeOnHeap.h"
#include "mailhost/pst/tables/Layout.h"

#include <algorithm>

namespace parcelon::pst {

Result<DataTree> ValueStore::subnodeData(Nid nid) const
{
    const SubnodeEntry* entry = m_subnodes ? m_subnodes->find(nid) : nullptr;
    if (!entry)
        return m_heap.damaged(QStringLiteral("subnode %1 is missing").arg(hex(nid)));
    auto tree = DataTree::open(*m_blocks, entry->bidData);
    if (!tree)
        return tree.error().withContext(m_heap.where());
    return tree;
}

Result<ValueLocation> ValueStore::locate(const StoredValue& value) const
{
    ValueLocation location;
    if (value.inPlace)
        return m_heap.damaged(QStringLiteral("a value of type %1 has no separate storage").arg(hex(value.type)));
    if (isHeapId(value.hnid())) {
        auto bytes = m_heap.allocation(value.hnid());
        if (!bytes)
            return bytes.error();
        location.heapBytes.assign(bytes->begin(), bytes->end());
        return location;
    }
    auto tree = subnodeData(value.hnid());
    if (!tree)
        return tree.error();
    location.tree = std::move(tree).value();
    return location;
}

Result<std::vector<std::uint8_t>> ValueStore::bytes(const StoredValue& value, std::uint64_t limit) const
{
    if (value.inPlace) {
        std::vector<std::uint8_t> out(fixedSize(value.type));
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<std::uint8_t>(value.raw >> (8 * i));
        return out;
    }
    auto location = locate(value);
    if (!location)
        return location.error();
    if (!location->tree)
        return std::move(location->heapBytes);
    return location->tree->readAll(*m_blocks, limit);
}

Result<PropertyContext> PropertyContext::open(const Blocks& blocks, const DataTree& data,
                                              std::shared_ptr<const SubnodeTree> subnodes, const Where& where)
{
    auto heap = Heap::open(blocks, data, where);
    if (!heap)
        return heap.error();
    if (heap->clientSignature() != Heap::kPropertyContext)
        return heap->damaged(QStringLiteral("it holds no properties (heap type %1)").arg(hex(heap->clientSignature())));
    PropertyContext pc(ValueStore(blocks, std::move(heap).value(), std::move(subnodes)));
    const Heap& h = pc.m_store.heap();
    auto tree = BTreeOnHeap::open(h, h.userRoot());
    if (!tree)
        return tree.error();
    if (tree->keySize() != 2 || tree->dataSize() != layout::kPCRecordData.size())
        return h.damaged(
            QStringLiteral("its property tree has records of %1 + %2 bytes").arg(tree->keySize()).arg(tree->dataSize()));
    auto walked = tree->forEach([&](Bytes key, Bytes data) {
        const SpanReader d(data);
        const auto type = static_cast<std::uint16_t>(d.field(layout::kPCRecordData.wPropType));
        const auto hnid = static_cast<std::uint32_t>(d.field(layout::kPCRecordData.dwValueHnid));
        pc.m_entries.push_back({static_cast<std::uint16_t>(keyValue(key)), {type, hnid, storedInline(type)}});
    });
    if (!walked)
        return walked.error();
    std::stable_sort(pc.m_entries.begin(), pc.m_entries.end(), [](const Entry& a, const Entry& b) { return a.id < b.id; });
    return pc;
}

const PropertyContext::Entry* PropertyContext::find(std::uint16_t id) const
{
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), id, [](const Entry& e, std::uint16_t i) { return e.id < i; });
    return it != m_entries.end() && it->id == id ? &*it : nullptr;
}

std::optional<std::int32_t> PropertyContext::integer32(std::uint16_t id) const
{
    const Entry* e = find(id);
    if (!e || e->value.type != PropType::Integer32)
        return std::nullopt;
    return static_cast<std::int32_t>(e->value.raw);
}

std::optional<bool> PropertyContext::boolean(std::uint16_t id) const
{
    const Entry* e = find(id);
    if (!e || e->value.type != PropType::Boolean)
        return std::nullopt;
    return (e->value.raw & 0xFF) != 0;
}

Result<std::optional<std::vector<std::uint8_t>>> PropertyContext::bytes(std::uint16_t id, std::uint64_t limit) const
{
    const Entry* e = find(id);
    if (!e)
        return std::optional<std::vector<std::uint8_t>>();
    auto got = m_store.bytes(e->value, limit);
    if (!got)
        return got.error();
    return std::optional<std::vector<std::uint8_t>>(std::move(got).value());
}

} // namespace parcelon::pst
