#include "sources/DropIntake.h"

#include "diagnostics/Failure.h"
#include "diagnostics/HandlerGuard.h"
#include "diagnostics/Steps.h"
#include "fs/FileAttributes.h"
#include "fs/Paths.h"
#include "sources/FolderHarvest.h"
#include "sources/SourceList.h"
#include "window/Form1.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

constexpr QStringView kDropHandler = u"ListView1_OLEDragDrop";

// Both tests are made: the folder is there, and its attributes say folder.
// A path whose attributes cannot be read is no folder.
bool isDroppedFolder(const QString& path)
{
    const bool found = FolderExists(path);
    bool directory = false;
    try {
        directory = (FileAttributes(path) & Attribute::Directory) != 0;
    } catch (const Failure&) {
    }
    return found && directory;
}

// A drop is taken as a copy, and only where the source offers one: taking
// a proposed move would tell the source that the files moved, and a source
// may then delete them.
bool acceptAsCopy(QDropEvent& event)
{
    if (!(event.possibleActions() & Qt::CopyAction)) {
        event.ignore();
        return false;
    }
    event.setDropAction(Qt::CopyAction);
    event.accept();
    return true;
}

} // namespace

QStringList droppedPaths(const QMimeData& data)
{
    QStringList paths;
    if (!data.hasUrls())
        return paths;
    for (const QUrl& url : data.urls())
        if (url.isLocalFile())
            paths << QDir::toNativeSeparators(url.toLocalFile());
    return paths;
}

void ListView1_OLEDragOver(Form1&, QDragMoveEvent& event)
{
    if (event.mimeData() && !droppedPaths(*event.mimeData()).isEmpty())
        acceptAsCopy(event);
    else
        event.ignore();
}

void ListView1_OLEDragDrop(Form1& form, QDropEvent& event)
{
    const QStringList paths = event.mimeData() ? droppedPaths(*event.mimeData()) : QStringList();
    if (paths.isEmpty() || !acceptAsCopy(event)) {
        event.ignore();
        return;
    }
    QMetaObject::invokeMethod(
        &form, [&form, paths] { guardHandler(form.desktop(), kDropHandler, [&] { addDroppedPaths(form, paths); }); },
        Qt::QueuedConnection);
}

void addDroppedPaths(Form1& form, const QStringList& paths)
{
    for (const QString& path : paths) {
        try {
            if (isDroppedFolder(path)) {
                Steps steps = Steps::unguarded(form.desktop());
                harvestFolderTree(form, path, u"*.*"_s, steps);
            } else
                addSource(form, path);
        } catch (const std::exception& e) {
            showHandlerFailure(form.desktop(), kDropHandler, failureDescription(e));
        }
    }
}

} // namespace parcelon
