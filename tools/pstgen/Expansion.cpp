#include "pstgen/Expansion.h"

#include "pstgen/SeededRandom.h"

#include <QRegularExpression>

namespace parcelon::pstgen {

Expansion Expansion::child(char kind, std::size_t index, int copy, bool repeated) const
{
    Expansion e = *this;
    switch (repeated ? kind : 0) {
    case 'F':
        e.folder = copy;
        break;
    case 'I':
        e.item = copy;
        break;
    case 'A':
        e.attachment = copy;
        break;
    default:
        break;
    }
    e.key = SeededRandom::mix({key, std::uint64_t(std::uint8_t(kind)), index, std::uint64_t(copy)});
    return e;
}

std::uint64_t Expansion::copies(char kind, std::size_t index, const Range& repeat) const
{
    if (repeat.isFixed())
        return repeat.min;
    SeededRandom random(SeededRandom::mix({key, std::uint64_t(std::uint8_t(kind)), index, 'R'}));
    return random.between(repeat.min, repeat.max);
}

std::uint64_t Expansion::draw(const Range& range, char purpose) const
{
    if (range.isFixed())
        return range.min;
    SeededRandom random(SeededRandom::mix({key, std::uint64_t(std::uint8_t(purpose)), 'D'}));
    return random.between(range.min, range.max);
}

QString Expansion::expand(const QString& text) const
{
    if (!text.contains(QLatin1Char('{')))
        return text;
    static const QRegularExpression counter(QStringLiteral("\\{(folder|item|attachment|message)(?::(\\d{1,2}))?\\}"));
    QString out;
    qsizetype last = 0;
    auto it = counter.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        const QString name = m.captured(1);
        std::uint64_t value = message;
        if (name == QLatin1String("folder"))
            value = std::uint64_t(folder);
        else if (name == QLatin1String("item"))
            value = std::uint64_t(item);
        else if (name == QLatin1String("attachment"))
            value = std::uint64_t(attachment);
        const int width = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
        out += QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out;
}

} // namespace parcelon::pstgen
