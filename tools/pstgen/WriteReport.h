#pragma once

#include "mailhost/pst/bytes/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace parcelon::pstgen {

// What to note while writing.
struct WriteOptions {
    bool listAttachments = true;  // fill WriteReport::attachmentList
    bool hashAttachments = false; // with the SHA-256 of every attachment's content
};

// One attachment as written, with the names it was given.
struct WrittenAttachment {
    QStringList folder;        // display names from below the IPM subtree down to its folder
    std::uint64_t message = 0; // the message's number in the file (the {message} counter)
    QString messageClass;      // of the message that holds the attachment
    QString subject;           // ... and its subject
    int depth = 0;             // 0: on a folder's message; 1: on a message embedded in that; ...
    int position = 0;          // 0-based row in its message's attachment table
    std::uint32_t method = 1;
    std::optional<QString> fileName;
    std::optional<QString> shortFileName;
    std::optional<QString> displayName;
    int codePage = 0;       // of its names in an ANSI file
    std::uint64_t size = 0; // content bytes (methods 1 and 6)
    QByteArray sha256;      // of the content, when asked for
};

struct WriteReport {
    std::uint64_t fileSize = 0;
    std::uint64_t folders = 0;     // folders below the IPM subtree, an added "Deleted Items" too
    std::uint64_t messages = 0;    // messages in folders (embedded ones not counted)
    std::uint64_t attachments = 0; // every attachment, those of embedded messages too
    std::uint64_t contentBytes = 0;
    std::vector<WrittenAttachment> attachmentList;

    // One JSON object per line for every attachment in attachmentList.
    pst::Result<void> writeManifest(const QString& path) const;
};

} // namespace parcelon::pstgen
