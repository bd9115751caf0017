#pragma once

#include "pstgen/WriteReport.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <ostream>
#include <set>
#include <tuple>

namespace parcelon::test {

// One attachment: the folder path below the IPM subtree, its depth (0 for a
// folder's message, 1 inside an embedded message, ...), name and SHA-256.
struct Extracted {
    QString folder;
    int depth = 0;
    QString name;
    QByteArray sha256;

    friend auto operator<=>(const Extracted& a, const Extracted& b)
    {
        return std::tie(a.folder, a.depth, a.name, a.sha256) <=> std::tie(b.folder, b.depth, b.name, b.sha256);
    }
    friend bool operator==(const Extracted&, const Extracted&) = default;
};
using ExtractedSet = std::multiset<Extracted>;

void PrintTo(const Extracted& e, std::ostream* out);

// The path of an installed peer tool, or nothing.
std::optional<QString> peerTool(const QString& name);

// What libpff's pffexport and libpst's readpst save from `pst` (working in
// `workDir`). pffexport gives every attachment by value with its depth;
// readpst the attachments of messages at depth 0 (duplicate names it
// numbers are given back their own name). Names are the long file names.
ExtractedSet pffexportAttachments(const QString& pst, const QString& workDir);
ExtractedSet readpstAttachments(const QString& pst, const QString& workDir);

// The same view of what pstgen wrote, for the attachments `keep` accepts.
template <class Keep>
ExtractedSet describedAttachments(const pstgen::WriteReport& report, Keep keep)
{
    ExtractedSet out;
    for (const auto& a : report.attachmentList)
        if (keep(a))
            out.insert({a.folder.join(QLatin1Char('/')), a.depth, a.fileName.value_or(QString()), a.sha256});
    return out;
}

// `set` without the names (for attachments the tools name by themselves).
ExtractedSet withoutNames(const ExtractedSet& set);

} // namespace parcelon::test
