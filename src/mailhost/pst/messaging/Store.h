#pragma once

#include "mailhost/pst/blocks/Blocks.h"
#include "mailhost/pst/blocks/SubnodeTree.h"
#include "mailhost/pst/tables/PropertyContext.h"
#include "mailhost/pst/tables/TableContext.h"

#include <QString>

#include <memory>

namespace parcelon::pst {

// The parts of a node that its structures are read from.
struct Node {
    Nid nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
};

// An open PST file: its header, B-trees and message store. Read-only: the
// file is never written.
class Store {
public:
    // Opens the file at `path`. Distinct errors for a missing or unreadable
    // file (Io), a file that is not a PST file (NotPst), one of a kind this
    // reader does not handle (Unsupported), and a damaged header (Corrupt).
    static Result<std::shared_ptr<Store>> open(const QString& path);
    static Result<std::shared_ptr<Store>> open(std::unique_ptr<ByteSource> source);

    // A second reader of the same open file, for another thread; it shares
    // what this one learns from scanning a damaged file.
    Result<std::shared_ptr<Store>> openAgain() const;

    const QString& path() const { return m_source->name(); }
    Where where() const { return Where{path(), {}}; }
    const ByteSource& source() const { return *m_source; }
    const Header& header() const { return m_header; }
    const Blocks& blocks() const { return *m_blocks; }
    const BTrees& trees() const { return *m_trees; }

    // The store's display name (the file's base name when it has none).
    const QString& displayName() const { return m_displayName; }

    // The folder that holds the user's folders (the IPM subtree).
    Nid ipmSubtree() const { return m_ipmSubtree; }

    // A node of the node B-tree; a node that is not there is damage.
    Result<Node> node(Nid nid) const;

    // The property context or table stored in a node (or a subnode) of the
    // object at `where`.
    Result<PropertyContext> properties(const Node& node, const Where& where) const;
    Result<TableContext> table(const Node& node, const Where& where) const;

    // The names of folders and the store carry no code page of their own.
    QString string(const PropertyContext& pc, std::uint16_t id, int codePage = 0) const;

private:
    Store(std::unique_ptr<ByteSource> source, const Header& header, std::shared_ptr<LeafScan> scan);
    static Result<std::shared_ptr<Store>> open(std::unique_ptr<ByteSource> source, std::shared_ptr<LeafScan> scan);
    Result<void> readMessageStore();
    // A structure on the node's data, with the node's subnodes beside it.
    template <class Structure>
    Result<Structure> open(const Node& node, const Where& where) const;
    Result<Nid> findIpmSubtreeByName() const;

    std::unique_ptr<ByteSource> m_source;
    Header m_header;
    std::unique_ptr<BTrees> m_trees;
    std::unique_ptr<Blocks> m_blocks;
    QString m_displayName;
    Nid m_ipmSubtree = 0;
};

// Reads a string property: UTF-16 values as they are, 8-bit ones in
// `codePage` (0: Windows-1252). Absent or unreadable values give nothing.
std::optional<QString> readString(const PropertyContext& pc, std::uint16_t id, int codePage);

// The same for a stored value (a table cell).
std::optional<QString> readString(const ValueStore& store, const StoredValue& value, int codePage);

} // namespace parcelon::pst
