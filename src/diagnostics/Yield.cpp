#include "diagnostics/Yield.h"

#include <QCoreApplication>

namespace parcelon {

namespace {
bool g_ending = false;
}

void yieldToWindowSystem()
{
    if (!g_ending)
        QCoreApplication::processEvents();
    if (g_ending)
        throw ProgramEnding{};
}

void requestProgramEnd()
{
    g_ending = true;
}

bool programEnding()
{
    return g_ending;
}

void clearProgramEnd()
{
    g_ending = false;
}

} // namespace parcelon
