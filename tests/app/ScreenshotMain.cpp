// Draws the main window after its start-up, with two files in the list, into
// the PNG file named on the command line. Uses a settings store of its own.
#include "window/Environment.h"
#include "window/Form1.h"
#include "app/FormLoad.h"
#include "window/QtDesktop.h"
#include "window/Settings.h"
#include "app/Wiring.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>

using namespace parcelon;
using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
        return 2;
    }
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    QApplication application(argc, argv);

    QtDesktop desktop;
    Settings settings;
    settings.write(SettingsKey::Text1, u"/home/user/Desktop/"_s);
    Form1 form(desktop, settings, Environment(config.path(), config.path(), QCoreApplication::applicationDirPath()));
    desktop.setWindow(&form);
    wireForm1(form);
    Form_Load(form);
    for (const QString& path : {u"/home/user/Mail/Archive 2019.pst"_s, u"/home/user/Mail/Projects.pst"_s})
        form.ListView1->addTopLevelItem(new QTreeWidgetItem(QStringList{path}));

    form.centreOnScreen();
    form.show();
    QApplication::processEvents();
    const QString output = QString::fromLocal8Bit(argv[1]);
    if (!form.grab().save(output)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
