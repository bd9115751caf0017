#include "testsupport/SourcesTestSupport.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>

namespace parcelon::test {

void SourcesTest::addAllInFolder(const QString& extension, const QString& folder)
{
    desktop.answerPrompt(extension);
    if (!extension.isEmpty())
        desktop.answerFolder(folder);
    form->PushButton4->click();
}

std::unique_ptr<QMimeData> SourcesTest::draggedFiles(const QStringList& paths)
{
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

bool SourcesTest::dragOver(const QMimeData& data)
{
    QWidget* surface = form->ListView1->viewport();
    const QPoint at = surface->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(surface, &enter);
    QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(surface, &move);
    EXPECT_EQ(enter.isAccepted(), move.isAccepted());
    return move.isAccepted() && move.dropAction() == Qt::CopyAction;
}

bool SourcesTest::drop(const QMimeData& data)
{
    // As from the desktop: the drag enters the list before it is let go.
    dragOver(data);
    QWidget* surface = form->ListView1->viewport();
    QDropEvent dropped(QPointF(surface->rect().center()), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                       Qt::NoModifier);
    const int before = int(listed(*form).size());
    QApplication::sendEvent(surface, &dropped);
    // The intake runs only once the drop has returned.
    EXPECT_EQ(listed(*form).size(), before);
    QApplication::processEvents();
    return dropped.isAccepted();
}

} // namespace parcelon::test
