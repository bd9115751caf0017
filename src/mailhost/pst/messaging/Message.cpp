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

Result<Message> Message::open(const Store& store, const Node& node, const Where& where)
{
    auto pc = store.properties(node, where);
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

Result<std::optional<TableContext>> Message::subnodeTable(Nid nid, const Where& where) const
{
    const auto& subnodes = m_properties.store().subnodes();
    const SubnodeEntry* entry = subnodes ? subnodes->find(nid) : nullptr;
    if (!entry)
        return std::optional<TableContext>();
    auto table = m_store->table(Node{entry->nid, entry->bidData, entry->bidSub}, where);
    if (!table)
        return table.error();
    return std::optional<TableContext>(std::move(table).value());
}

Result<std::vector<Nid>> Message::attachmentIds() const
{
    auto table = subnodeTable(WellKnownNid::AttachmentTable, where().inside(QStringLiteral("its list of attachments")));
    if (!table)
        return table.error();
    if (!*table)
        return std::vector<Nid>();
    return (*table)->rowIds();
}

Result<std::optional<TableContext>> Message::recipients() const
{
    return subnodeTable(WellKnownNid::RecipientTable, where().inside(QStringLiteral("its list of recipients")));
}

Result<Attachment> Message::attachment(Nid nid, const Where& where) const
{
    const auto& subnodes = m_properties.store().subnodes();
    const SubnodeEntry* entry = subnodes ? subnodes->find(nid) : nullptr;
    if (!entry)
        return corrupt(where, QStringLiteral("its node %1 is missing").arg(hex(nid)));
    auto pc = m_store->properties(Node{entry->nid, entry->bidData, entry->bidSub}, where);
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
        return corrupt(where(), QStringLiteral("its content has type %1 instead of binary").arg(hex(entry->value.type)));
    return m_properties.store().locate(entry->value);
}

Result<Node> Attachment::objectNode() const
{
    const PropertyContext::Entry* entry = m_properties.find(PropId::AttachDataBinary);
    if (!entry || entry->value.type != PropType::Object)
        return corrupt(where(), QStringLiteral("the attached object is missing"));
    auto reference = m_properties.store().bytes(entry->value, 64);
    if (!reference)
        return reference.error();
    if (reference->size() < 8)
        return corrupt(where(), QStringLiteral("the reference to the attached object is damaged"));
    const Nid nid = SpanReader(*reference).u32(0);
    const auto& subnodes = m_properties.store().subnodes();
    const SubnodeEntry* node = subnodes ? subnodes->find(nid) : nullptr;
    if (!node)
        return corrupt(where(), QStringLiteral("the attached object %1 is missing").arg(hex(nid)));
    return Node{node->nid, node->bidData, node->bidSub};
}

Result<Message> Attachment::embeddedMessage() const
{
    auto node = objectNode();
    if (!node)
        return node.error();
    return Message::open(*m_store, *node, where().inside(QStringLiteral("the attached message")));
}

Result<DataTree> Attachment::storage() const
{
    auto node = objectNode();
    if (!node)
        return node.error();
    auto tree = DataTree::open(m_store->blocks(), node->bidData);
    if (!tree)
        return tree.error().withContext(where());
    return tree;
}

} // namespace parcelon::pst
