#pragma once

#include <QString>
#include <QStringView>

namespace parcelon {

// The folders the program finds outside itself: the user's desktop and home
// folders and the folder that holds the executable (without a trailing
// separator). Tests point them anywhere.
class Environment {
public:
    Environment(QString desktopFolder, QString homeFolder, QString programFolder);

    // The folders of the running program and its user. The desktop folder is
    // the system's answer as given, empty when it has none.
    static Environment system();

    const QString& desktopFolder() const { return m_desktopFolder; }
    const QString& homeFolder() const { return m_homeFolder; }
    const QString& programFolder() const { return m_programFolder; }

    // A file beside the program: `relative` ("x/o.cjs") below the program folder.
    QString programFile(QStringView relative) const;

private:
    QString m_desktopFolder;
    QString m_homeFolder;
    QString m_programFolder;
};

} // namespace parcelon
