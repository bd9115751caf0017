// Inputs that once made the engine fail (fuzz-regressions/README.md): each
// mounts or fails with a description, and its walk ends and leaves nothing.

#include "diagnostics/Failure.h"
#include "mailhost/model/Registry.h"
#include "testsupport/StoreWalk.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

TEST(FuzzRegressions, EveryInputMountsOrFailsAndIsWalkedToTheEnd)
{
    const QDir dir(sourceDir() + u"/tests/mailhost/fuzz-regressions"_s);
    const QStringList inputs = dir.entryList({u"*.pst"_s}, QDir::Files, QDir::Name);
    ASSERT_FALSE(inputs.isEmpty());
    for (const QString& name : inputs) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray bytes = readFile(dir.filePath(name));
        QTemporaryDir out;
        auto mapi = mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId)->GetNamespace(u"MAPI"_s);
        std::vector<SavedAttachment> saved;
        try {
            mapi->AddStore(std::make_unique<pst::MemorySource>(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), name));
        } catch (const std::exception& e) {
            EXPECT_TRUE(failureDescription(e).contains(name)) << failureDescription(e).toStdString();
            continue;
        }
        saved = saveAll(mapi->Folders()->GetLast(), out.path());
        for (const auto& a : saved)
            EXPECT_TRUE(a.error.isEmpty() || a.error.contains(name)) << a.error.toStdString();
        EXPECT_TRUE(QDir(out.path()).isEmpty()) << "a failed save left a file behind";
    }
}
