#include "diagnostics/ApplicationTitle.h"

namespace parcelon {

namespace {
QString& title()
{
    static QString kept;
    return kept;
}
} // namespace

QString applicationTitle()
{
    return title();
}

void keepApplicationTitle(const QString& newTitle)
{
    title() = newTitle;
}

} // namespace parcelon
