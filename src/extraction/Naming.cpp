#include "extraction/Naming.h"

#include "diagnostics/Failure.h"
#include "diagnostics/Steps.h"
#include "extraction/FreeNames.h"
#include "fs/Paths.h"

#include <climits>
#include <cstdint>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

constexpr std::int64_t kLargestCounter = INT32_MAX;
// A file name here is at most this many bytes.
constexpr qsizetype kNameMax = 255;
// Characters a shortened name keeps before its extension, at the least.
constexpr qsizetype kKeptBeforeExtension = 8;

// The position of the last dot of the path's file name, or -1.
qsizetype lastDotOfFileName(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot > path.lastIndexOf(kSeparator) ? dot : -1;
}

qsizetype utf8Size(QStringView text)
{
    return text.toUtf8().size();
}

// The length of the character that starts at `at`.
qsizetype characterLength(QStringView text, qsizetype at)
{
    return text.at(at).isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate() ? 2 : 1;
}

// The longest start of `text` that takes at most `bytes` UTF-8 bytes and
// ends at a character boundary.
QString cutToBytes(const QString& text, qsizetype bytes)
{
    qsizetype used = 0, end = 0;
    while (end < text.size()) {
        const qsizetype step = characterLength(text, end);
        const qsizetype size = utf8Size(QStringView(text).mid(end, step));
        if (used + size > bytes)
            break;
        used += size;
        end += step;
    }
    return text.left(end);
}

// The first `characters` characters of `text`.
QString firstCharacters(const QString& text, qsizetype characters)
{
    qsizetype end = 0;
    for (qsizetype n = 0; n < characters && end < text.size(); ++n)
        end += characterLength(text, end);
    return text.left(end);
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

QString fittingFileName(const QString& stem, const QString& number, const QString& extension)
{
    const qsizetype fixed = utf8Size(number);
    if (utf8Size(stem) + fixed + utf8Size(extension) <= kNameMax)
        return stem + number + extension;
    const QString kept = firstCharacters(stem, kKeptBeforeExtension);
    const qsizetype room = kNameMax - fixed - utf8Size(extension); // for the stem
    if (room >= utf8Size(kept))
        return cutToBytes(stem, room) + number + extension;
    // The extension alone leaves too little: it is cut from its end instead.
    return kept + number + cutToBytes(extension, kNameMax - fixed - utf8Size(kept));
}

QString fittingFileName(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return fittingFileName(name, QString(), QString());
    return fittingFileName(name.left(dot), QString(), name.mid(dot));
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
