#pragma once

#include <QString>

namespace parcelon {

// The process-wide application title: the caption of every message box and
// prompt that is given none of its own. The program keeps it itself; Qt's
// application display name stays unset, since Qt would append it to every
// window title.
QString applicationTitle();
void keepApplicationTitle(const QString& title);

} // namespace parcelon
