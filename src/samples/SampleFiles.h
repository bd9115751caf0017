#pragma once

#include <QString>
#include <QStringList>

namespace parcelon {

class Form1;

// Records the full paths of the files directly in the sample folder, in
// listing order and joined by "|", scrambled under "Snapshot". Names that
// hold "|" are left out; a program folder that holds one records nothing.
void TakeSampleSnapshot(Form1& form);

// The paths of the snapshot as stored; none when it is empty or damaged.
QStringList snapshotPaths(const Form1& form);

// Appends each recorded sample that still exists and is not yet listed,
// then offers to open the sample folder.
void LoadSampleFiles(Form1& form);

// True when an item's text equals `path`, letter case counting.
bool SourceListContains(const Form1& form, const QString& path);

// "Load Sample/Example Files".
void PushButton5_Click(Form1& form);

} // namespace parcelon
