#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace parcelon {

// A file-name pattern of the directory enumeration: "*" stands for any run
// of characters, "?" for exactly one; every other character, "[" and "]"
// included, stands for itself. Letters match in either case, and the pattern
// must cover the whole name. "*.*" matches every name, with or without a dot.
class WildcardPattern {
public:
    explicit WildcardPattern(QStringView pattern);

    bool matches(QStringView name) const;

private:
    QList<uint> m_pattern; // upper-cased code points
};

} // namespace parcelon
