#pragma once

#include "pstgen/Description.h"
#include "pstgen/Expansion.h"
#include "pstgen/MessageWriter.h"
#include "pstgen/NdbWriter.h"
#include "pstgen/WriteReport.h"

#include <QStringList>

#include <cstdint>

namespace parcelon::pstgen {

// Writes the messaging layer of a new file: the nodes of an empty store as
// Outlook creates them (message store, named-property map, root folder, IPM
// subtree, search root, deleted items, common views, the spam search folder
// and the table templates) with the described folders and items added.
class StoreWriter {
public:
    StoreWriter(NdbWriter& ndb, const Description& description, const WriteOptions& options, WriteReport& report);

    void write();

private:
    // A written folder as its parent's hierarchy table shows it.
    struct FolderRow {
        std::uint32_t nid = 0;
        QString name;
        QString containerClass;
        std::uint32_t count = 0;
        bool hasSubfolders = false;
    };

    FolderRow writeFolder(const Folder& folder, const Expansion& place, std::uint32_t nid, std::uint32_t parent,
                          const QString& name, const QStringList& path, const std::vector<FolderRow>& extraChildren,
                          const Folder* skip);
    FolderRow writeEmptyFolder(std::uint32_t nid, std::uint32_t parent, const QString& name,
                               const std::optional<QString>& comment);
    void writeFolderNodes(const FolderRow& row, std::uint32_t parent, const std::vector<FolderRow>& children,
                          const TableContextBuilder& contents, const std::optional<QString>& comment);
    void writeTable(std::uint32_t nid, const TableContextBuilder& table);
    void writeStoreProperties();
    void writeSearchFolder();
    void writeTemplates();
    QByteArray entryId(std::uint32_t nid) const;
    // Texts of the store and its folders.
    TextEncoding text() const;

    NdbWriter& m_ndb;
    const Description& m_description;
    WriteReport& m_report;
    MessageWriter m_messages;
    QByteArray m_recordKey;
    std::uint64_t m_messageNumber = 0;
};

} // namespace parcelon::pstgen
