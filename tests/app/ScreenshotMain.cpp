// Draws the main window after its start-up, with two files in the list, into
// the PNG file named on the command line; with --dark under a dark desktop
// theme. Uses a settings store of its own.
//   parcelon_screenshot [--dark] <output.png>
#include "app/FormLoad.h"
#include "app/Wiring.h"
#include "window/Environment.h"
#include "window/Form1.h"
#include "window/QtDesktop.h"
#include "window/Settings.h"

#include <QApplication>
#include <QDir>
#include <QPalette>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>

using namespace parcelon;
using namespace Qt::StringLiterals;

int main(int argc, char** argv)
{
    const bool dark = argc == 3 && std::strcmp(argv[1], "--dark") == 0;
    if (argc != 2 && !dark) {
        std::fprintf(stderr, "usage: %s [--dark] <output.png>\n", argv[0]);
        return 2;
    }
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    QApplication application(argc, argv);
    if (dark) {
        // As Adwaita-dark gives it.
        QPalette palette(QColor(0x35, 0x35, 0x35), QColor(0x35, 0x35, 0x35));
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(role, QColor(0xee, 0xee, 0xec));
        palette.setColor(QPalette::Base, QColor(0x2d, 0x2d, 0x2d));
        QApplication::setPalette(palette);
    }

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
    const char* outputArgument = argv[argc - 1];
    if (!form.grab().save(QString::fromLocal8Bit(outputArgument))) {
        std::fprintf(stderr, "cannot write %s\n", outputArgument);
        return 1;
    }
    return 0;
}
