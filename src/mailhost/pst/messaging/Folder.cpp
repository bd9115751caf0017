#include "mailhost/pst/messaging/Folder.h"

#include "mailhost/pst/messaging/PropertyIds.h"

#include <unordered_set>

namespace parcelon::pst {

namespace {
constexpr std::uint32_t kSearchFolder = 0x03;
constexpr std::uint32_t kHierarchyTable = 0x0D;
constexpr std::uint32_t kContentsTable = 0x0E;
}

Result<Folder> Folder::open(const Store& store, Nid nid, const QString& what)
{
    Folder folder;
    folder.m_store = &store;
    folder.m_nid = nid;
    folder.m_what = what;
    auto node = store.node(nid);
    if (!node)
        return node.error().context(what);
    auto pc = store.properties(*node, what);
    if (!pc)
        return pc.error();
    folder.m_displayName = store.string(*pc, PropId::DisplayName);
    return folder;
}

Result<std::vector<Nid>> Folder::tableRows(std::uint32_t tableType, const QString& table) const
{
    // A search folder only lists messages that live in other folders.
    if (nidType(m_nid) == kSearchFolder)
        return std::vector<Nid>();
    const QString what = QStringLiteral("%1, its %2").arg(m_what, table);
    auto node = m_store->node((m_nid & ~Nid(0x1F)) | tableType);
    if (!node)
        return node.error().context(what);
    auto tc = m_store->table(*node, what);
    if (!tc)
        return tc.error();
    return tc->rowIds();
}

Result<std::vector<Nid>> Folder::ownRows(Result<std::vector<Nid>> rows) const
{
    if (!rows)
        return rows;
    std::unordered_set<Nid> seen;
    std::vector<Nid> own;
    for (const Nid nid : *rows) {
        if (!seen.insert(nid).second)
            continue;
        // A row whose node cannot be read stays, so that opening it reports the damage.
        const auto entry = m_store->trees().findNode(nid);
        if (entry && *entry && (*entry)->parent != m_nid)
            continue;
        own.push_back(nid);
    }
    return own;
}

Result<std::vector<Nid>> Folder::subfolders() const
{
    return ownRows(tableRows(kHierarchyTable, QStringLiteral("list of subfolders")));
}

Result<std::vector<Nid>> Folder::messages() const
{
    return ownRows(tableRows(kContentsTable, QStringLiteral("list of items")));
}

} // namespace parcelon::pst
