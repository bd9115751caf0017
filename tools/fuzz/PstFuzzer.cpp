// Mounts the input as a PST file, walks every folder, item and attachment
// and saves each attachment into a temporary folder. Failures are expected;
// crashes, hangs and unbounded memory are what the fuzzer looks for.

#include "mailhost/model/Registry.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>

using namespace parcelon;
using namespace parcelon::mailhost;

namespace {

QTemporaryDir& outputDir()
{
    static QTemporaryDir dir;
    return dir;
}

void walk(const std::shared_ptr<Folder>& folder, int depth, int& saved)
{
    if (depth > 64)
        return;
    try {
        folder->Name();
        auto items = folder->Items();
        for (std::int64_t j = 1; j <= items->count(); ++j) {
            try {
                auto item = items->Item(j);
                item->Class();
                auto attachments = item->Attachments();
                for (std::int64_t k = 1; k <= attachments->count(); ++k) {
                    try {
                        auto attachment = attachments->Item(k);
                        attachment->fileName();
                        attachment->SaveAsFile(outputDir().filePath(QString::number(++saved)));
                    } catch (const std::exception&) {
                    }
                }
            } catch (const std::exception&) {
            }
        }
        auto subfolders = folder->Folders();
        for (std::int64_t i = 1; i <= subfolders->count(); ++i) {
            try {
                walk(subfolders->Item(i), depth + 1, saved);
            } catch (const std::exception&) {
            }
        }
    } catch (const std::exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        auto mapi = Registry::global().CreateObject(kApplicationProgId)->GetNamespace(QStringLiteral("MAPI"));
        mapi->AddStore(
            std::make_unique<pst::MemorySource>(std::vector<std::uint8_t>(data, data + size), QStringLiteral("input.pst")));
        int saved = 0;
        walk(mapi->Folders()->GetLast(), 0, saved);
    } catch (const std::exception&) {
    }
    QDir dir(outputDir().path());
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden))
        dir.remove(name);
    return 0;
}
