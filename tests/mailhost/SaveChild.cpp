// save_child PST FOLDER [STEP]: saves every attachment of the PST file into
// FOLDER under its own name, as a run does. With STEP, the process kills
// itself at that step of its saves (counted over all of them) and names the
// step on stderr first. Prints the number of steps taken; exits with 1 when
// a save failed.

#include "diagnostics/Failure.h"
#include "mailhost/model/NewFile.h"
#include "mailhost/model/Registry.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <unistd.h>

using namespace parcelon;
using namespace parcelon::mailhost;
using namespace Qt::StringLiterals;

namespace {

long killAt = 0;
long steps = 0;

void onStep(const char* step)
{
    if (++steps != killAt)
        return;
    const ssize_t written = ::write(STDERR_FILENO, step, std::strlen(step));
    static_cast<void>(written);
    ::raise(SIGKILL);
}

bool saveAll(const std::shared_ptr<Folder>& folder, const QString& into)
{
    bool saved = true;
    auto items = folder->Items();
    for (std::int64_t j = 1; j <= items->count(); ++j) {
        auto attachments = items->Item(j)->Attachments();
        for (std::int64_t k = 1; k <= attachments->count(); ++k) {
            try {
                auto attachment = attachments->Item(k);
                attachment->SaveAsFile(into + u'/' + attachment->fileName());
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s\n", qPrintable(failureDescription(e)));
                saved = false;
            }
        }
    }
    auto folders = folder->Folders();
    for (std::int64_t i = 1; i <= folders->count(); ++i)
        saved = saveAll(folders->Item(i), into) && saved;
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3 || args.size() > 4) {
        std::fputs("usage: save_child PST FOLDER [STEP]\n", stderr);
        return 2;
    }
    killAt = args.size() == 4 ? args[3].toLong() : 0;
    NewFile::setStepHook(onStep);
    bool saved = false;
    try {
        auto mapi = Registry::global().CreateObject(kApplicationProgId)->GetNamespace(u"MAPI"_s);
        mapi->AddStore(args[1]);
        saved = saveAll(mapi->Folders()->GetLast(), args[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", qPrintable(failureDescription(e)));
    }
    std::printf("%ld\n", steps);
    return saved ? 0 : 1;
}
