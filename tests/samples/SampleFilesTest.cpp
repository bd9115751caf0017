#include "testsupport/AppTestSupport.h"

#include "samples/SampleFiles.h"
#include "samples/Scramble.h"
#include "sources/SourceList.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

const QString kQuestion = u"Would you like this software to open the folder where these sample files are stored "
                          "(so that you can view them before working with them)?"_s;

class SampleFiles : public WindowTest {
protected:
    QString samples() const { return programFolder + u"/Samples"_s; }
    QString sample(const QString& name) const { return samples() + u'/' + name; }
    void putSample(const QString& name) { writeFile(sample(name), "sample"); }

    // Clicks "Load Sample/Example Files" and answers the question.
    void load(bool openFolder = false)
    {
        desktop.answerQuestion(openFolder);
        form->PushButton5->click();
    }
};

} // namespace

TEST_F(SampleFiles, FirstStartRecordsTheFilesOfTheFolderScrambledInListingOrder)
{
    for (const QString& name : {u"b.pst"_s, u"A.pst"_s, u".hidden"_s, u"sub/inner.pst"_s, u"bar|red.pst"_s})
        putSample(name);
    Form1& form = startForm();
    const QStringList recorded{sample(u".hidden"_s), sample(u"A.pst"_s), sample(u"b.pst"_s)};
    EXPECT_EQ(snapshotPaths(form), recorded);
    const std::optional<QString> stored = storedOnDisk(SettingsKey::Snapshot);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(*stored, ScrambleText(recorded.join(u'|'), kScrambleKey));
    EXPECT_FALSE(stored->contains(u"Samples"_s));
    EXPECT_TRUE(desktop.shown().empty());

    load();
    EXPECT_EQ(listed(form), recorded);
    EXPECT_EQ(desktop.texts(Shown::Question), QStringList{kQuestion});
    EXPECT_TRUE(desktop.texts(Shown::OpenUrl).isEmpty());
}

TEST_F(SampleFiles, LoadingAgainAddsEachSampleOnceBesideEntriesThatDifferInCase)
{
    putSample(u"a.pst"_s);
    putSample(u"b.pst"_s);
    Form1& form = startForm();
    addSource(form, sample(u"A.PST"_s));
    addSource(form, sample(u"b.pst"_s));
    load();
    load();
    EXPECT_EQ(listed(form), (QStringList{sample(u"A.PST"_s), sample(u"b.pst"_s), sample(u"a.pst"_s)}));
    EXPECT_EQ(desktop.texts(Shown::Question).size(), 2);

    // A click during the unscrambling runs first; each sample still comes once.
    form.ListView1->clear();
    desktop.answerQuestion(false);
    QTimer::singleShot(0, &form, [&] { form.PushButton5->click(); });
    load();
    EXPECT_EQ(listed(form), (QStringList{sample(u"a.pst"_s), sample(u"b.pst"_s)}));
    EXPECT_TRUE(desktop.scriptDone());
}

TEST_F(SampleFiles, SnapshotIsRetakenOnlyWhileEmptyAndDeletedSamplesAreSkipped)
{
    // No sample folder: an empty record, and the question all the same.
    Form1& first = startForm();
    EXPECT_EQ(storedOnDisk(SettingsKey::Snapshot), QString());
    load();
    EXPECT_TRUE(listed(first).isEmpty());

    putSample(u"a.pst"_s);
    putSample(u"b.pst"_s);
    startForm();
    putSample(u"c.pst"_s);
    Form1& later = startForm();
    EXPECT_EQ(snapshotPaths(later), (QStringList{sample(u"a.pst"_s), sample(u"b.pst"_s)}));

    ASSERT_TRUE(QFile::remove(sample(u"a.pst"_s)));
    load();
    EXPECT_EQ(listed(later), QStringList{sample(u"b.pst"_s)});
    EXPECT_TRUE(desktop.errorReports().isEmpty());
}

TEST_F(SampleFiles, YesOpensTheSampleFolderInTheFileBrowser)
{
    putSample(u"a.pst"_s);
    startForm();
    desktop.setOpenUrlResult(false); // what the desktop answers is not looked at
    load(true);
    EXPECT_EQ(desktop.texts(Shown::OpenUrl), QStringList{QUrl::fromLocalFile(samples() + u'/').toString()});
    EXPECT_TRUE(desktop.errorReports().isEmpty());
}

TEST_F(SampleFiles, PathsOutsideAsciiComeBackFromTheStore)
{
    programFolder += u"/Prögram Файлы 日本"_s;
    putSample(u"Почта – ü.pst"_s);
    startForm();
    // A new store reads the file afresh.
    Form1& next = startForm();
    EXPECT_EQ(snapshotPaths(next), QStringList{sample(u"Почта – ü.pst"_s)});
    load();
    EXPECT_EQ(listed(next), QStringList{sample(u"Почта – ü.pst"_s)});
}

TEST_F(SampleFiles, AProgramFolderHoldingABarOrADamagedRecordGiveNoSamples)
{
    programFolder += u"/pro|gram"_s;
    putSample(u"a.pst"_s);
    Form1& form = startForm();
    EXPECT_EQ(storedOnDisk(SettingsKey::Snapshot), QString());
    load();
    EXPECT_TRUE(listed(form).isEmpty());

    store(SettingsKey::Snapshot, ScrambleText(sample(u"a.pst"_s), kScrambleKey) + QChar(0x263a));
    Form1& damaged = startForm();
    EXPECT_TRUE(snapshotPaths(damaged).isEmpty());
    load();
    EXPECT_TRUE(listed(damaged).isEmpty());
    EXPECT_EQ(desktop.texts(Shown::Question).size(), 2);
}
