#include "sources/FolderHarvest.h"

#include "diagnostics/Steps.h"
#include "fs/FileAttributes.h"
#include "fs/FileListing.h"
#include "fs/FolderExpansion.h"
#include "fs/Paths.h"
#include "sources/SourceList.h"
#include "window/Form1.h"

#include <QStringList>

namespace parcelon {

namespace {

constexpr int kArchiveHidden = Attribute::Archive | Attribute::Hidden;

} // namespace

void harvestFolderTree(Form1& form, const QString& folder, const QString& pattern, Steps& steps)
{
    QStringList folders;
    ListingMemory listings(pattern); // each folder is read once
    steps.run(114, [&] { folders = QStringList{folder + kSeparator}; });
    steps.run(116, [&] { GetSubDirectories2016(folders, true, form.desktop(), &listings); });
    steps.forCount(
        118, 134, [&] { return folders.size(); },
        [&](qsizetype position) {
            QString current = folders.at(position - 1);
            steps.run(120, [&] { current.chop(1); });
            QStringList names;
            steps.assign(122, names, [&] { return ListFilesInFolder(current, pattern, &listings); });
            steps.forCount(
                124, 134, [&] { return names.size(); },
                [&](qsizetype index) {
                    const QString& name = names.at(index - 1);
                    if (steps.test(126, [&] { return name.startsWith(u'~'); }))
                        return;
                    QString path;
                    steps.assign(128, path, [&] { return current + kSeparator + name; });
                    if (steps.test(132, [&] { return IsExistingFile(path) && FileAttributes(path) != kArchiveHidden; }))
                        steps.run(132, [&] { addSource(form, CollapseBackslashes(path)); });
                });
        });
}

} // namespace parcelon
