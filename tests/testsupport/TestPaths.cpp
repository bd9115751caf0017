#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace parcelon::test {

std::optional<QString> corpusDir()
{
    QString dir = qEnvironmentVariable("PARCELON_CORPUS");
    if (dir.isEmpty())
        dir = QDir::cleanPath(sourceDir() + QStringLiteral("/../shared/corpus"));
    if (QFileInfo(dir + QStringLiteral("/pst")).isDir())
        return dir;
    return std::nullopt;
}

std::optional<QString> corpusPstDir()
{
    if (auto dir = corpusDir())
        return *dir + QStringLiteral("/pst");
    return std::nullopt;
}

QString sourceDir()
{
    return QStringLiteral(PARCELON_SOURCE_DIR);
}

QString runtimeDir()
{
    return QStringLiteral(PARCELON_RUNTIME_DIR);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return file.readAll();
}

} // namespace parcelon::test
