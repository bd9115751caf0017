#pragma once

#include "mailhost/pst/messaging/Store.h"
#include "mailhost/pst/messaging/Text.h"

#include <optional>
#include <vector>

namespace parcelon::pst {

class Attachment;

// A message: a top-level item of a folder, or a message embedded in an
// attachment. Its attachments and recipients are subnodes of its node.
class Message {
public:
    static Result<Message> open(const Store& store, const Node& node, const Where& where);

    const Store& store() const { return *m_store; }
    const PropertyContext& properties() const { return m_properties; }
    const Where& where() const { return m_properties.where(); }

    QString messageClass() const;
    QString subject() const;

    // The code page of the message's 8-bit strings.
    int codePage() const { return m_codePage; }

    // The ids of the attachments, in the order of the attachment table;
    // a message without that table has none.
    Result<std::vector<Nid>> attachmentIds() const;
    Result<Attachment> attachment(Nid nid, const Where& where) const;

    // The recipient table, when there is one.
    Result<std::optional<TableContext>> recipients() const;

private:
    Message(const Store& store, PropertyContext properties);
    Result<std::optional<TableContext>> subnodeTable(Nid nid, const Where& where) const;

    const Store* m_store;
    PropertyContext m_properties;
    int m_codePage = kDefaultCodePage;
};

// An attachment of a message.
class Attachment {
public:
    const PropertyContext& properties() const { return m_properties; }
    const Where& where() const { return m_properties.where(); }

    int method() const;
    int codePage() const { return m_codePage; }

    // The stored names; empty when absent.
    QString longFileName() const;
    QString fileName() const;
    QString displayName() const;
    QString pathName() const; // the target of a link

    // The content of an attachment by value.
    Result<ValueLocation> content() const;

    // The message of an embedded-message attachment.
    Result<Message> embeddedMessage() const;

    // The bytes of an OLE attachment's storage.
    Result<DataTree> storage() const;

private:
    friend class Message;
    Attachment(const Store& store, PropertyContext properties, int codePage);
    Result<Node> objectNode() const;

    const Store* m_store;
    PropertyContext m_properties;
    int m_codePage;
};

} // namespace parcelon::pst
