#include "fs/WildcardPattern.h"

#include <QChar>

namespace parcelon {

namespace {

constexpr uint kAnyRun = U'*';
constexpr uint kAnyOne = U'?';

QList<uint> upperCodePoints(QStringView text)
{
    QList<uint> result = text.toUcs4();
    for (uint& c : result)
        c = QChar::toUpper(c);
    return result;
}

} // namespace

WildcardPattern::WildcardPattern(QStringView pattern)
    : m_pattern(upperCodePoints(pattern == u"*.*" ? QStringView(u"*") : pattern))
{
}

bool WildcardPattern::matches(QStringView name) const
{
    const QList<uint> text = upperCodePoints(name);
    // Greedy match that backs up to the last "*" on a mismatch.
    qsizetype p = 0, t = 0;
    qsizetype starAt = -1, resumeAt = 0;
    while (t < text.size()) {
        if (p < m_pattern.size() && m_pattern[p] == kAnyRun) {
            starAt = p++;
            resumeAt = t;
        } else if (p < m_pattern.size() && (m_pattern[p] == kAnyOne || m_pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (starAt >= 0) {
            p = starAt + 1;
            t = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < m_pattern.size() && m_pattern[p] == kAnyRun)
        ++p;
    return p == m_pattern.size();
}

} // namespace parcelon
