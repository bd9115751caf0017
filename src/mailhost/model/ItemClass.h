#pragma once

#include <QString>

namespace parcelon::mailhost {

// The object-model class number of an item with this message class.
inline constexpr int kMailItemClass = 43;

// Known base classes are matched by whole dot-separated segments, letter
// case aside ("IPM.Note.SMIME" is mail, "IPM.Notebook" is not). Unknown,
// bare "IPM", empty and missing classes count as mail, so that their
// attachments are saved.
int itemClassOf(const QString& messageClass);

} // namespace parcelon::mailhost
