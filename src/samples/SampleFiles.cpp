#include "samples/SampleFiles.h"

#include "diagnostics/Desktop.h"
#include "diagnostics/Steps.h"
#include "fs/FileListing.h"
#include "fs/Paths.h"
#include "samples/Scramble.h"
#include "sources/SourceList.h"
#include "window/Form1.h"
#include "window/Settings.h"

#include <QUrl>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

constexpr QChar kPathSeparator = u'|';

QString sampleFolder(const Form1& form)
{
    return form.environment().programFile(u"Samples");
}

} // namespace

void TakeSampleSnapshot(Form1& form)
{
    const QString folder = sampleFolder(form);
    QStringList paths;
    if (!folder.contains(kPathSeparator)) {
        for (const QString& name : ListFilesInFolder(folder, u"*.*"_s))
            if (!name.contains(kPathSeparator))
                paths << folder + kSeparator + name;
    }
    form.settings().write(SettingsKey::Snapshot, ScrambleText(paths.join(kPathSeparator), kScrambleKey));
}

QStringList snapshotPaths(const Form1& form)
{
    const std::optional<QString> plain = UnscrambleText(form.settings().read(SettingsKey::Snapshot, QString()), kScrambleKey);
    if (!plain || plain->isEmpty())
        return {};
    return plain->split(kPathSeparator);
}

void LoadSampleFiles(Form1& form)
{
    for (const QString& path : snapshotPaths(form))
        if (FileExists(path) && !SourceListContains(form, path))
            addSource(form, path);
    if (form.desktop().askYesNo(u"Would you like this software to open the folder where these sample files are "
                                "stored (so that you can view them before working with them)?"_s))
        form.desktop().openUrl(QUrl::fromLocalFile(sampleFolder(form) + kSeparator));
}

bool SourceListContains(const Form1& form, const QString& path)
{
    const int count = sourceCount(form);
    for (int position = 1; position <= count; ++position)
        if (sourceText(form, position) == path)
            return true;
    return false;
}

void PushButton5_Click(Form1& form)
{
    Steps steps(Location::PushButton5_Click, form.desktop());
    steps.run(100, [&] { LoadSampleFiles(form); });
}

} // namespace parcelon
