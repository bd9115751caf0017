#include "window/Environment.h"

#include "fs/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace parcelon {

Environment::Environment(QString desktopFolder, QString homeFolder, QString programFolder)
    : m_desktopFolder(std::move(desktopFolder)), m_homeFolder(std::move(homeFolder)), m_programFolder(std::move(programFolder))
{
}

Environment Environment::system()
{
    return Environment(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation), QDir::homePath(),
                       QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
}

QString Environment::programFile(QStringView relative) const
{
    QString path = m_programFolder;
    path += kSeparator;
    path += relative;
    return QDir::toNativeSeparators(path);
}

} // namespace parcelon
