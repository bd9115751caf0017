#include "fs/FolderPicker.h"

#include "diagnostics/Desktop.h"
#include "fs/Paths.h"

namespace parcelon {

QString BrowseForFolder(Desktop& desktop, const QString& prompt, const QString& initialFolder, const QString& homeFolder)
{
    const QString start = FolderExists(initialFolder) ? initialFolder : homeFolder;
    QString chosen = desktop.chooseFolder(prompt, start);
    while (chosen.size() > 1 && chosen.endsWith(kSeparator))
        chosen.chop(1);
    return chosen;
}

} // namespace parcelon
