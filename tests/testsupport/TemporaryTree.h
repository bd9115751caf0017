#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <ostream>

namespace parcelon::test {

// A folder tree for one test, in a temporary folder that everyone may read.
// Relative paths use "/"; names that are not valid UTF-8 are made from bytes.
class TemporaryTree {
public:
    TemporaryTree();
    ~TemporaryTree();

    // The absolute path of `relative` (the root itself when empty).
    QString path(const QString& relative = {}) const;
    // Creates the folders of `relative`; returns its path with a trailing "/".
    QString folder(const QString& relative);
    void file(const QString& relative);
    void link(const QString& relative, const QString& target);
    // A folder or file whose name is taken byte for byte, inside `parent`.
    void rawFolder(const QString& parent, const QByteArray& name);
    void rawFile(const QString& parent, const QByteArray& name);
    void setMode(const QString& relative, unsigned mode);

private:
    QTemporaryDir m_dir;
};

} // namespace parcelon::test

// Test output shows texts as text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
