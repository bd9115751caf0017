#pragma once

#include "mailhost/pst/messaging/Store.h"

#include <vector>

namespace parcelon::pst {

// A folder of a store: its name, its subfolders and its messages, each read
// when first asked for.
class Folder {
public:
    static Result<Folder> open(const Store& store, Nid nid, const QString& what);

    Nid nid() const { return m_nid; }
    const QString& displayName() const { return m_displayName; }
    const QString& what() const { return m_what; }

    // The rows of the folder's hierarchy and contents tables: the ids of its
    // subfolders and of its messages, in table order. Where a table cannot
    // be read, the nodes that name the folder as their parent, in id order.
    Result<std::vector<Nid>> subfolders() const;
    Result<std::vector<Nid>> messages() const;

private:
    Result<std::vector<Nid>> tableRows(std::uint32_t tableType, const QString& table) const;
    Result<std::vector<Nid>> childrenByParent(std::uint32_t tableType, const Error& damage) const;

    const Store* m_store = nullptr;
    Nid m_nid = 0;
    QString m_displayName;
    QString m_what;
};

} // namespace parcelon::pst
