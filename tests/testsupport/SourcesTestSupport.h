#pragma once

#include "testsupport/AppTestSupport.h"
#include "testsupport/TemporaryTree.h"

#include <QMimeData>
#include <QStringList>

#include <memory>

namespace parcelon::test {

// The window with a folder tree beside it, and the gestures that fill the list.
class SourcesTest : public WindowTest {
protected:
    TemporaryTree tree;

    // Clicks "Add All PST Files In Folder", answering the prompt and, when
    // the prompt is answered, the folder picker.
    void addAllInFolder(const QString& extension, const QString& folder = {});

    // Data dragged from the desktop: the paths as file URLs.
    static std::unique_ptr<QMimeData> draggedFiles(const QStringList& paths);
    // Drags the data onto the list; true when it may be dropped there.
    bool dragOver(const QMimeData& data);
    // Drags the data onto the list and drops it there, then lets the
    // intake run; true when the drop was taken.
    bool drop(const QMimeData& data);
};

} // namespace parcelon::test
