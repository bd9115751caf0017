#include "StoreWalk.h"

#include "diagnostics/Failure.h"

#include <QCryptographicHash>
#include <QFile>

#include <gtest/gtest.h>

namespace parcelon::test {

using namespace Qt::StringLiterals;

QString sha256Of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash sha(QCryptographicHash::Sha256);
    sha.addData(&file);
    return QString::fromLatin1(sha.result().toHex());
}

namespace {

void walk(const std::shared_ptr<mailhost::Folder>& folder, const QString& path, const QString& outputDir,
          std::vector<SavedAttachment>& saved, int& counter)
{
    auto subfolders = folder->Folders();
    for (std::int64_t i = 1; i <= subfolders->count(); ++i) {
        auto sub = subfolders->Item(i);
        const QString subPath = path.isEmpty() ? sub->Name() : path + u'/' + sub->Name();
        walk(sub, subPath, outputDir, saved, counter);
        auto items = sub->Items();
        for (std::int64_t j = 1; j <= items->count(); ++j) {
            auto item = items->Item(j);
            auto attachments = item->Attachments();
            for (std::int64_t k = 1; k <= attachments->count(); ++k) {
                auto attachment = attachments->Item(k);
                SavedAttachment s{subPath, item->Class(), attachment->fileName(), attachment->Type()};
                const QString target = u"%1/%2"_s.arg(outputDir).arg(++counter);
                try {
                    attachment->SaveAsFile(target);
                    s.size = QFile(target).size();
                    s.sha256 = sha256Of(target);
                    QFile::remove(target);
                } catch (const std::exception& e) {
                    s.error = failureDescription(e);
                }
                saved.push_back(s);
            }
        }
    }
}

} // namespace

std::vector<SavedAttachment> saveAll(const std::shared_ptr<mailhost::Folder>& root, const QString& outputDir)
{
    std::vector<SavedAttachment> saved;
    int counter = 0;
    walk(root, QString(), outputDir, saved, counter);
    return saved;
}

} // namespace parcelon::test
