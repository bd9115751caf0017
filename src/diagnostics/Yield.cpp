#include "diagnostics/Yield.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <vector>

namespace parcelon {

namespace {
bool g_ending = false;
// The loops of the boxes open now, innermost last.
std::vector<QEventLoop*> g_boxLoops;
} // namespace

void yieldToWindowSystem()
{
    if (!g_ending)
        QCoreApplication::processEvents();
    if (g_ending)
        throw ProgramEnding{};
}

void waitForBox(QEventLoop& loop)
{
    if (!g_ending) {
        g_boxLoops.push_back(&loop);
        loop.exec();
        g_boxLoops.erase(std::find(g_boxLoops.begin(), g_boxLoops.end(), &loop));
    }
    if (g_ending)
        throw ProgramEnding{};
}

void requestProgramEnd()
{
    g_ending = true;
    for (QEventLoop* loop : g_boxLoops)
        loop->quit();
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
