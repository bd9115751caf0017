#include "mailhost/pst/messaging/Message.h"

#include "mailhost/pst/messaging/PropertyIds.h"
#include "mailhost/pst/messaging/Text.h"

namespace parcelon::pst {

namespace {

int codePageOf(const PropertyContext& pc, int fallback)
{
    if (auto cp = pc.integer32(PropId::MessageCodepage); cp && *cp > 0)
        return *cp;
    if (auto locale = pc.integer32(PropId::MessageLocaleId); locale)
        if (int cp = codePageOfLocale(*locale); cp > 0)
            return cp;
    return fallback;
}

} // namespace

Message::Message(const Store& store, PropertyContext properties) : m_store(&store), m_properties(std::move(properties))
{
    m_codePage = codePageOf(m_properties, kDefaultCodePage);
}

Result<Message> Message::open(const Store& store, const Node& node, const QString& what)
{
    auto pc = store.properties(node, what);
    if (!pc)
        return pc.error();
    return Message(store, std::move(pc).value());
}

QString Message::messageClass() const
{
    return readString(m_properties, PropId::MessageClass, m_codePage).value_or(QString());
}

QString Message::subject() const
{
    QString subject = readString(m_properties, PropId::Subject, m_codePage).value_or(QString());
    // A leading U+0001 and one more character mark the length of a prefix.
    if (subject.size() >= 2 && subject.at(0) == QChar(1))
        subject.remove(0, 2);
    return subject;
}

Result<std::optional<TableContext>> Message::subnodeTable(Nid nid, const QString& what) const
{
    const auto& subnodes = m_properties.store().subnodes();
    const SubnodeEntry* entry = subnodes ? subnodes->find(nid) : nullptr;
    if (!entry)
        return std::optional<TableContext>();
    auto table = m_store->table(Node{entry->nid, entry->bidData, entry->bidSub}, what);
    if (!table)
        return table.error();
    return std::optional<TableContext>(std::move(table).value());
}

Result<std::vector<Nid>> Message::attachmentIds() const
{
    auto table = subnodeTable(WellKnownNid::AttachmentTable, QStringLiteral("%1, its list of attachments").arg(what()));
    if (!table)
        return table.error();
    if (!*table)
        return std::vector<Nid>();
    return (*table)->rowIds();
}

Result<std::optional<TableContext>> Message::recipients() const
{
    return subnodeTable(WellKnownNid::RecipientTable, QStringLiteral("%1, its list of recipients").arg(what()));
}

Result<Attachment> Message::attachment(Nid nid, const QString& what) const
{
    const auto& subnodes = m_properties.store().subnodes();
    const SubnodeEntry* entry = subnodes ? subnodes->find(nid) : nullptr;
    if (!entry)
        return corrupt(QStringLiteral("%1: its node %2 is missing").arg(what, hex(nid)));
    auto pc = m_store->properties(Node{entry->nid, entry->bidData, entry->bidSub}, what);
    if (!pc)
        return pc.error();
    const int codePage = codePageOf(*pc, m_codePage);
    return Attachment(*m_store, std::move(pc).value(), codePage);
}

Attachment::Attachment(const Store& store, PropertyContext properties, int codePage)
    : m_store(&store), m_properties(std::move(properties)), m_codePage(codePage)
{
}

int Attachment::method() const
{
    return m_properties.integer32(PropId::AttachMethod).value_or(AttachMethod::None);
}

QString Attachment::longFileName() const
{
    return readString(m_properties, PropId::AttachLongFilename, m_codePage).value_or(QString());
}

QString Attachment::fileName() const
{
    return readString(m_properties, PropId::AttachFilename, m_codePage).value_or(QString());
}

QString Attachment::displayName() const
{
    return readString(m_properties, PropId::DisplayName, m_codePage).value_or(QString());
}

QString Attachment::pathName() const
{
    QString path = readString(m_properties, PropId::AttachLongPathname, m_codePage).value_or(QString());
    return path.isEmpty() ? readString(m_properties, PropId::AttachPathname, m_codePage).value_or(QString()) : path;
}

Result<ValueLocation> Attachment::content() const
{
    const PropertyContext::Entry* entry = m_properties.find(PropId::AttachDataBinary);
    if (!entry)
        return ValueLocation{};
    if (entry->value.type != PropType::Binary)
        return corrupt(QStringLiteral("%1: its content has type %2 instead of binary").arg(what(), hex(entry->value.type)));
    return m_properties.store().locate(entry->value);
}

Result<Node> Attachment::objectNode() const
{
    const PropertyContext::Entry* entry = m_properties.find(PropId::AttachDataBinary);
    if (!entry || entry->value.type != PropType::Object)
        return corrupt(QStringLiteral("%1: the attached object is missing").arg(what()));
    auto reference = m_properties.store().bytes(entry->value, 64);
    if (!reference)
        return reference.error();
    if (reference->size() < 8)
        return corrupt(QStringLiteral("%1: the reference to the attached object is damaged").arg(what()));
    const Nid nid = SpanReader(*reference).u32(0);
    const auto& subnodes = m_properties.store().subnodes();
    const SubnodeEntry* node = subnodes ? subnodes->find(nid) : nullptr;
    if (!node)
        return corrupt(QStringLiteral("%1: the attached object %2 is missing").arg(what(), hex(nid)));
    return Node{node->nid, node->bidData, node->bidSub};
}

Result<Message> Attachment::embeddedMessage() const
{
    auto node = objectNode();
    if (!node)
        return node.error();
    return Message::open(*m_store, *node, QStringLiteral("%1, the attached message").arg(what()));
}

Result<DataTree> Attachment::storage() const
{
    auto node = objectNode();
    if (!node)
        return node.error();
    auto tree = DataTree::open(m_store->blocks(), node->bidData);
    if (!tree)
        return tree.error().context(what());
    return tree;
}

} // namespace parcelon::pst
