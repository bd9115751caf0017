#include "mailhost/pst/messaging/Folder.h"

#include "mailhost/pst/messaging/PropertyIds.h"

#include <unordered_set>

namespace parcelon::pst {

namespace {
constexpr std::uint32_t kNormalFolder = 0x02;
constexpr std::uint32_t kSearchFolder = 0x03;
constexpr std::uint32_t kMessage = 0x04;
constexpr std::uint32_t kHierarchyTable = 0x0D;
constexpr std::uint32_t kContentsTable = 0x0E;
} // namespace

Result<Folder> Folder::open(const Store& store, Nid nid, const Where& where)
{
    Folder folder;
    folder.m_store = &store;
    folder.m_nid = nid;
    folder.m_where = where;
    auto node = store.node(nid);
    auto pc = node ? store.properties(*node, where) : Result<PropertyContext>(node.error().withContext(where));
    if (!pc) {
        // A folder's own node holds only its name: damage to it costs the
        // name, and its subfolders and messages are still found.
        if (pc.error().kind() == ErrorKind::Corrupt)
            return folder;
        return pc.error();
    }
    folder.m_displayName = store.string(*pc, PropId::DisplayName);
    return folder;
}

Result<std::vector<Nid>> Folder::tableRows(std::uint32_t tableType, const QString& table) const
{
    // A search folder only lists messages that live in other folders.
    if (nidType(m_nid) == kSearchFolder)
        return std::vector<Nid>();
    const Where where = m_where.inside(QStringLiteral("its %1").arg(table));
    auto node = m_store->node((m_nid & ~Nid(0x1F)) | tableType);
    auto tc = node ? m_store->table(*node, where) : Result<TableContext>(node.error().withContext(where));
    if (!tc)
        return childrenByParent(tableType, tc.error());
    return tc->rowIds();
}

Result<std::vector<Nid>> Folder::childrenByParent(std::uint32_t tableType, const Error& damage) const
{
    // Every folder and message names its parent folder in the node B-tree.
    if (damage.kind() != ErrorKind::Corrupt)
        return damage;
    std::vector<Nid> children;
    auto walked = m_store->trees().forEachNode([&](const NodeEntry& e) {
        const std::uint32_t type = nidType(e.nid);
        const bool wanted = tableType == kHierarchyTable ? type == kNormalFolder || type == kSearchFolder : type == kMessage;
        if (wanted && e.parent == m_nid && e.nid != m_nid)
            children.push_back(e.nid);
        return true;
    });
    if (!walked || children.empty())
        return damage;
    return children;
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
