#pragma once

#include "pstgen/Description.h"
#include "pstgen/Expansion.h"
#include "pstgen/NdbWriter.h"
#include "pstgen/PropertyContextBuilder.h"
#include "pstgen/SubnodeList.h"
#include "pstgen/TableContextBuilder.h"
#include "pstgen/WriteReport.h"

#include <QDateTime>
#include <QStringList>

#include <cstdint>

namespace parcelon::pstgen {

// Writes messages with everything below them: recipients, attachments and
// their contents, embedded messages (recursively). A message's blocks are
// written first; the caller files the returned node where it belongs (the
// node BTree for a folder's message, an attachment's subnodes for an
// embedded one).
class MessageWriter {
public:
    struct Written {
        std::uint64_t bidData = 0;
        std::uint64_t bidSub = 0;
        std::uint32_t size = 0; // PidTagMessageSize
        QString subject;
    };

    // `codePage`: that of items that name none (in ANSI files).
    MessageWriter(NdbWriter& ndb, const QDateTime& baseTime, int codePage, const WriteOptions& options, WriteReport& report);

    // Writes `item` as the expansion `place` gives it. `folder` names where
    // it lies (for the report); `depth` is 0 for a folder's message.
    // `contentsRow`, when given, receives the message's contents-table cells.
    Written write(const Item& item, const Expansion& place, const QStringList& folder, int depth,
                  TableContextBuilder::Row* contentsRow);

    // A row version for a table row: a counter, as Outlook keeps one.
    std::uint32_t nextRowVersion() { return ++m_rowVersion; }

private:
    struct Context;

    void writeAttachment(const Attachment& attachment, const Expansion& place, int position, Context& message);
    // Streams an attachment's content into the heap (small) or a subnode.
    void writeContent(const Content& content, std::uint64_t key, std::uint32_t tag, PropertyContextBuilder& pc,
                      SubnodeList& subnodes, bool alwaysSubnode, WrittenAttachment& record);

    NdbWriter& m_ndb;
    QDateTime m_baseTime;
    int m_codePage;
    const WriteOptions& m_options;
    WriteReport& m_report;
    std::uint32_t m_rowVersion = 0;
    std::vector<std::uint8_t> m_buffer;
};

} // namespace parcelon::pstgen
