#pragma once

#include "mailhost/pst/messaging/Store.h"

#include <vector>

namespace parcelon::pst {

// A folder of a store: its name, its subfolders and its messages, each read
// when first asked for.
class Folder {
public:
    static Result<Folder> open(const Store& store, Nid nid, const Where& where);

    Nid nid() const { return m_nid; }
    const QString& displayName() const { return m_displayName; }
    const Where& where() const { return m_where; }

    // The ids of its subfolders and of its messages, in the order of its
    // hierarchy and contents tables; where a table cannot be read, the nodes
    // that name the folder as their parent, in id order. A row whose node
    // names another folder as its parent belongs to that folder and is passed
    // over here, and a row listed again counts once: every object has one place.
    Result<std::vector<Nid>> subfolders() const;
    Result<std::vector<Nid>> messages() const;

private:
    Result<std::vector<Nid>> tableRows(std::uint32_t tableType, const QString& table) const;
    Result<std::vector<Nid>> childrenByParent(std::uint32_t tableType, const Error& damage) const;
    Result<std::vector<Nid>> ownRows(Result<std::vector<Nid>> rows) const;

    const Store* m_store = nullptr;
    Nid m_nid = 0;
    QString m_displayName;
    Where m_where;
};

} // namespace parcelon::pst
