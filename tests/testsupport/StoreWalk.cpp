#include "testsupport/StoreWalk.h"

#include "diagnostics/Failure.h"
#include "mailhost/model/Registry.h"

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

// Runs `step`; a failure is recorded as an entry of its own, as the walk of
// the program reports it and goes on.
template <class Step>
bool guarded(std::vector<SavedAttachment>& saved, const QString& folder, Step&& step)
{
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        SavedAttachment failure{folder};
        failure.error = failureDescription(e);
        saved.push_back(failure);
        return false;
    }
}

void walk(const std::shared_ptr<mailhost::Folder>& folder, const QString& path, const QString& outputDir,
          std::vector<SavedAttachment>& saved, int& counter)
{
    std::shared_ptr<mailhost::FolderCollection> subfolders;
    if (!guarded(saved, path, [&] { subfolders = folder->Folders(); }))
        return;
    for (std::int64_t i = 1; i <= subfolders->count(); ++i) {
        std::shared_ptr<mailhost::Folder> sub;
        QString subPath;
        if (!guarded(saved, path, [&] {
                sub = subfolders->Item(i);
                subPath = path.isEmpty() ? sub->Name() : path + u'/' + sub->Name();
            }))
            continue;
        walk(sub, subPath, outputDir, saved, counter);
        std::shared_ptr<mailhost::ItemCollection> items;
        if (!guarded(saved, subPath, [&] { items = sub->Items(); }))
            continue;
        for (std::int64_t j = 1; j <= items->count(); ++j) {
            std::shared_ptr<mailhost::Item> item;
            std::shared_ptr<mailhost::AttachmentCollection> attachments;
            int itemClass = 0;
            if (!guarded(saved, subPath, [&] {
                    item = items->Item(j);
                    itemClass = item->Class();
                    attachments = item->Attachments();
                }))
                continue;
            for (std::int64_t k = 1; k <= attachments->count(); ++k) {
                SavedAttachment s{subPath, itemClass};
                try {
                    auto attachment = attachments->Item(k);
                    s.fileName = attachment->fileName();
                    s.type = attachment->Type();
                    const QString target = u"%1/%2"_s.arg(outputDir).arg(++counter);
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

std::vector<SavedAttachment> mountAndSaveAll(const QString& path, const QString& outputDir, QString* mountError)
{
    auto mapi = mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId)->GetNamespace(u"MAPI"_s);
    try {
        mapi->AddStore(path);
    } catch (const std::exception& e) {
        if (mountError)
            *mountError = QString::fromUtf8(e.what());
        return {};
    }
    return saveAll(mapi->Folders()->GetLast(), outputDir);
}

} // namespace parcelon::test
