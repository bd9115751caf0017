#pragma once

#include <QString>
#include <QStringList>

class QDragMoveEvent;
class QDropEvent;
class QMimeData;

namespace parcelon {

class Form1;

// Drag over the list: a drag that carries no local file, or whose source
// does not offer a copy, cannot be dropped; any other is taken as a copy.
void ListView1_OLEDragOver(Form1& form, QDragMoveEvent& event);

// A drop on the list, taken as a copy (refused where the source offers
// none): the dropped paths are taken in just after the drop has ended, so
// the drag source is free while folders are expanded.
void ListView1_OLEDragDrop(Form1& form, QDropEvent& event);

// The local files and folders that dragged data carries, in order.
QStringList droppedPaths(const QMimeData& data);

// Takes in dropped paths in order: every file of a folder and its subfolders
// (any extension, by the rules of the folder scan), anything else as dropped.
void addDroppedPaths(Form1& form, const QStringList& paths);

} // namespace parcelon
