#include "extraction/Naming.h"

#include "diagnostics/Failure.h"
#include "diagnostics/Steps.h"
#include "extraction/FreeNames.h"
#include "fs/FileNames.h"
#include "fs/Paths.h"

#include <climits>
#include <cstdint>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

constexpr std::int64_t kLargestCounter = INT32_MAX;
// The position of the last dot of the path's file name, or -1.
qsizetype lastDotOfFileName(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot > path.lastIndexOf(kSeparator) ? dot : -1;
}

} // namespace

QString PathWithoutExtension(const QString& path)
{
    if (path.isEmpty())
        return path;
    const qsizetype dot = lastDotOfFileName(path);
    return dot > 0 ? path.left(dot) : path;
}

QString GetExtensionFromFilename(const QString& path, bool includeDot)
{
    const qsizetype dot = lastDotOfFileName(path);
    if (dot < 0)
        return QString();
    return path.mid(includeDot ? dot : dot + 1);
}

QString SetNewAttachnentName(Desktop& desktop, const QString& wished)
{
    Steps steps(Location::SetNewAttachnentName, desktop);
    QString result;
    if (steps.test(100, [&] { return !FileExists(wished); })) {
        steps.assign(114, result, [&] { return wished; });
        return result;
    }
    QString base, extension;
    std::int64_t counter = 1;
    steps.assign(102, base, [&] { return PathWithoutExtension(wished); });
    steps.assign(104, extension, [&] { return GetExtensionFromFilename(wished, true); });
    FreeNames& freeNames = FreeNames::instance();
    steps.assign(106, counter, [&] { return freeNames.start(base, extension, FolderOfPath(CollapseBackslashes(base))); });
    const QString folder = FolderOfPath(base);
    const QString stem = FileNameOfPath(base);
    const auto candidate = [&] { return folder + fittingFileName(stem, QString::number(counter), extension); };
    while (steps.test(108, [&] { return FileExists(candidate()); })) {
        if (!steps.run(110, [&] {
                if (counter >= kLargestCounter)
                    throw Failure(u"No free name for %1"_s.arg(wished));
                ++counter;
            }))
            return result;
    }
    freeNames.record(base, extension, counter);
    steps.assign(112, result, candidate);
    return result;
}

} // namespace parcelon
