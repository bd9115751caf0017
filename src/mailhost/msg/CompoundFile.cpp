#include "mailhost/msg/CompoundFile.h"

namespace parcelon::msg::cfb {

using namespace Qt::StringLiterals;

int compareNames(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const char16_t x = a.at(i).toUpper().unicode();
        const char16_t y = b.at(i).toUpper().unicode();
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

QString nameProblem(const QString& name)
{
    if (name.isEmpty())
        return u"the name is empty"_s;
    if (name.size() > kMaxNameLength)
        return u"the name has %1 characters, more than %2"_s.arg(name.size()).arg(kMaxNameLength);
    for (const QChar c : name)
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!' || c == QChar(0))
            return u"the name holds \"%1\""_s.arg(c == QChar(0) ? u"NUL"_s : QString(c));
    return {};
}

} // namespace parcelon::msg::cfb
