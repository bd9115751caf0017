#pragma once

#include <QString>

#include <optional>

namespace parcelon::test {

// The real PST corpus beside the project (../shared/corpus), or the folder
// named by PARCELON_CORPUS; nothing when it is absent.
std::optional<QString> corpusDir();

// The corpus's PST folder; tests that need it call GTEST_SKIP() without it.
std::optional<QString> corpusPstDir();

// The project's source folder and the folder that holds the built programs.
QString sourceDir();
QString runtimeDir();

// Writes `bytes` to `path`, creating missing folders; fails the test on error.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

} // namespace parcelon::test
