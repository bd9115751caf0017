#include "mailhost/pst/messaging/Store.h"

#include "mailhost/pst/messaging/PropertyIds.h"
#include "mailhost/pst/messaging/Text.h"

#include <QFileInfo>

namespace parcelon::pst {

namespace {

// A string property of an object is never longer than this.
constexpr std::uint64_t kMaxStringBytes = 1024 * 1024;

Nid hierarchyTableOf(Nid folder)
{
    return (folder & ~Nid(0x1F)) | 0x0D;
}

} // namespace

std::optional<QString> readString(const ValueStore& store, const StoredValue& value, int codePage)
{
    if (value.type != PropType::String && value.type != PropType::String8)
        return std::nullopt;
    auto bytes = store.bytes(value, kMaxStringBytes);
    if (!bytes)
        return std::nullopt;
    return value.type == PropType::String ? fromUtf16le(*bytes) : fromCodePage(*bytes, codePage ? codePage : kDefaultCodePage);
}

std::optional<QString> readString(const PropertyContext& pc, std::uint16_t id, int codePage)
{
    const PropertyContext::Entry* entry = pc.find(id);
    if (!entry)
        return std::nullopt;
    return readString(pc.store(), entry->value, codePage);
}

Store::Store(std::unique_ptr<ByteSource> source, const Header& header, std::shared_ptr<LeafScan> scan)
    : m_source(std::move(source)), m_header(header)
{
    m_trees = std::make_unique<BTrees>(*m_source, m_header, std::move(scan));
    m_blocks = std::make_unique<Blocks>(*m_source, m_header, *m_trees);
}

Result<std::shared_ptr<Store>> Store::open(const QString& path)
{
    auto source = FileSource::open(path);
    if (!source)
        return source.error();
    return open(std::move(source).value());
}

Result<std::shared_ptr<Store>> Store::open(std::unique_ptr<ByteSource> source)
{
    return open(std::move(source), nullptr);
}

Result<std::shared_ptr<Store>> Store::openAgain() const
{
    auto source = m_source->duplicate();
    if (!source)
        return Error(ErrorKind::Io, QStringLiteral("cannot open %1 a second time").arg(path()));
    return open(std::move(source), m_trees->scan());
}

Result<std::shared_ptr<Store>> Store::open(std::unique_ptr<ByteSource> source, std::shared_ptr<LeafScan> scan)
{
    auto header = Header::read(*source);
    if (!header)
        return header.error();
    std::shared_ptr<Store> store(new Store(std::move(source), *header, std::move(scan)));
    if (auto r = store->readMessageStore(); !r)
        return r.error();
    return store;
}

Result<Node> Store::node(Nid nid) const
{
    auto found = m_trees->findNode(nid);
    if (!found)
        return found.error();
    if (!*found)
        return corrupt(where(), QStringLiteral("node %1 is missing").arg(hex(nid)));
    return Node{(*found)->nid, (*found)->bidData, (*found)->bidSub};
}

template <class Structure>
Result<Structure> Store::open(const Node& node, const Where& where) const
{
    auto data = DataTree::open(*m_blocks, node.bidData);
    if (!data)
        return data.error().withContext(where);
    auto subnodes = SubnodeTree::open(*m_blocks, node.bidSub);
    if (!subnodes)
        return subnodes.error().withContext(where);
    return Structure::open(*m_blocks, *data, std::make_shared<const SubnodeTree>(std::move(subnodes).value()), where);
}

Result<PropertyContext> Store::properties(const Node& node, const Where& where) const
{
    return open<PropertyContext>(node, where);
}

Result<TableContext> Store::table(const Node& node, const Where& where) const
{
    return open<TableContext>(node, where);
}

QString Store::string(const PropertyContext& pc, std::uint16_t id, int codePage) const
{
    return readString(pc, id, codePage).value_or(QString());
}

Result<void> Store::readMessageStore()
{
    auto storeNode = node(WellKnownNid::MessageStore);
    std::optional<PropertyContext> pc;
    if (storeNode) {
        auto opened = properties(*storeNode, where().inside(QStringLiteral("the message store")));
        if (opened)
            pc = std::move(opened).value();
    }
    if (pc) {
        m_displayName = string(*pc, PropId::DisplayName);
        auto entryId = pc->bytes(PropId::IpmSubtreeEntryId, 64);
        if (entryId && *entryId && (*entryId)->size() >= 24)
            m_ipmSubtree = SpanReader(**entryId).u32(20);
    }
    if (m_displayName.isEmpty())
        m_displayName = QFileInfo(path()).completeBaseName();
    if (m_ipmSubtree == 0) {
        // Files without the entry id (OSTs) keep it below "Root - Mailbox".
        auto byName = findIpmSubtreeByName();
        m_ipmSubtree = byName ? *byName : WellKnownNid::IpmSubtree;
    }
    if (auto r = node(m_ipmSubtree); !r) {
        // Where the node B-tree still gives nodes, the top folder's damaged
        // entry costs no more than itself: its folders name it as parent.
        bool any = false;
        const bool readable = m_trees->forEachNode([&](const NodeEntry&) { return !(any = true); }).ok() && any;
        if (r.error().kind() != ErrorKind::Corrupt || !readable)
            return r.error().withAction(QStringLiteral("The folder that holds the mail cannot be found"));
    }
    return {};
}

Result<Nid> Store::findIpmSubtreeByName() const
{
    auto childNamed = [this](Nid parent, const QString& name) -> Result<Nid> {
        auto ht = node(hierarchyTableOf(parent));
        if (!ht)
            return ht.error();
        auto table = this->table(*ht, where().inside(QStringLiteral("folder %1").arg(hex(parent))));
        if (!table)
            return table.error();
        for (std::uint32_t child : table->rowIds()) {
            auto childNode = node(child);
            if (!childNode)
                continue;
            auto pc = properties(*childNode, where().inside(QStringLiteral("folder %1").arg(hex(child))));
            if (pc && string(*pc, PropId::DisplayName) == name)
                return child;
        }
        return corrupt(where().inside(QStringLiteral("folder %1").arg(hex(parent))),
                       QStringLiteral("it has no subfolder %1").arg(name));
    };
    auto mailbox = childNamed(WellKnownNid::RootFolder, QStringLiteral("Root - Mailbox"));
    if (!mailbox)
        return mailbox.error();
    return childNamed(*mailbox, QStringLiteral("IPM_SUBTREE"));
}

} // namespace parcelon::pst
