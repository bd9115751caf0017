#include "samples/Scramble.h"

#include "diagnostics/Failure.h"
#include "diagnostics/Yield.h"

#include <QStringDecoder>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

constexpr int kTop = 255;

template <class Shift>
QByteArray shifted(QByteArrayView bytes, QByteArrayView key, Shift shift)
{
    if (key.isEmpty())
        throw Failure(u"The scramble key is empty"_s);
    QByteArray result;
    result.reserve(bytes.size());
    qsizetype position = 0;
    for (const char byte : bytes) {
        yieldToWindowSystem();
        const int k = static_cast<unsigned char>(key[position]);
        position = (position + 1) % key.size();
        result.append(static_cast<char>(shift(static_cast<unsigned char>(byte), k)));
    }
    return result;
}

} // namespace

QByteArray scrambleBytes(QByteArrayView bytes, QByteArrayView key)
{
    return shifted(bytes, key, [](int c, int k) {
        const int v = c + k;
        return v > kTop ? v - kTop : v;
    });
}

QByteArray unscrambleBytes(QByteArrayView bytes, QByteArrayView key)
{
    return shifted(bytes, key, [](int c, int k) {
        const int v = c - k;
        return v < 1 ? v + kTop : v;
    });
}

QString ScrambleText(const QString& text, QStringView key)
{
    return QString::fromLatin1(scrambleBytes(text.toUtf8(), key.toLatin1()));
}

std::optional<QString> UnscrambleText(const QString& scrambled, QStringView key)
{
    QByteArray bytes;
    bytes.reserve(scrambled.size());
    for (const QChar c : scrambled) {
        if (c.unicode() > kTop)
            return std::nullopt;
        bytes.append(static_cast<char>(c.unicode()));
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(unscrambleBytes(bytes, key.toLatin1()));
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace parcelon
