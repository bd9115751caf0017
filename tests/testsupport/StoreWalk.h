#pragma once

#include "mailhost/model/Automation.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace parcelon::test {

// One attachment as the object model gives it and as SaveAsFile wrote it.
struct SavedAttachment {
    QString folder = {}; // display names below the root, joined by "/"
    int itemClass = 0;
    QString fileName = {};
    int type = 0;     // the attachment's kind (1 by value, 5 attached message, 6 OLE)
    qint64 size = -1; // -1 when the save failed
    QString sha256 = {};
    QString error = {};
};

// Walks every folder below `root` (not the root's own items), saves every
// attachment of every item into `outputDir` and describes what was saved.
std::vector<SavedAttachment> saveAll(const std::shared_ptr<mailhost::Folder>& root, const QString& outputDir);

// Mounts the PST file at `path` in a new MAPI namespace and saves all as
// above; a store that does not mount gives nothing, with the reason in
// `mountError` when given.
std::vector<SavedAttachment> mountAndSaveAll(const QString& path, const QString& outputDir, QString* mountError = nullptr);

QString sha256Of(const QString& path);

} // namespace parcelon::test
