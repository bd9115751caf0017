#pragma once

#include <QString>
#include <QStringView>

namespace parcelon {

class Desktop;
class Environment;
class Form1;

inline constexpr QStringView kProductName = u"Parcelon";

// The maker's web site; empty while the product has none.
inline constexpr QStringView kWebSiteAddress = u"";

// The start-up sequence, run once before the window is first shown.
void Form_Load(Form1& form);

// Gives the window the skin x/o.cjs of the program folder when it is there.
void ApplySkin(Form1& form);

// Sets the application title derived from the product name.
void SetApplicationTitle();

// The product name without its last word, and without more words while
// longer than 40 characters; a name of one word stays whole.
QString applicationTitleFor(const QString& productName);

// The desktop folder with a separator appended; the home folder where the
// desktop folder does not exist. A Failure when there is no desktop folder.
QString DesktopFolderPath(const Environment& environment);

// On one start in a hundred opens the maker's web site.
void OpenWebSiteByChance(Desktop& desktop, QStringView address = kWebSiteAddress);

} // namespace parcelon
