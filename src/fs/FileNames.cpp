#include "fs/FileNames.h"

namespace parcelon {

namespace {

// A file name here is at most this many bytes.
constexpr qsizetype kNameMax = 255;
// Characters a shortened name keeps before its extension, at the least.
constexpr qsizetype kKeptBeforeExtension = 8;

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

} // namespace parcelon
