// The real window on the real desktop, for the check under a window manager:
// one PST file in the list, the output folder as given, and the run started
// as a click would. Every error report is counted on standard output; with
// a picture file named, the whole screen is pictured once the third report
// is open. Uses a settings store of its own.
//   parcelon_flood <file.pst> <output folder> [picture.png]
#include "app/FormLoad.h"
#include "app/Program.h"
#include "app/Wiring.h"
#include "window/Environment.h"
#include "window/Form1.h"
#include "window/QtDesktop.h"
#include "window/Settings.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

using namespace parcelon;
using namespace Qt::StringLiterals;

namespace {

class CountingDesktop : public QtDesktop {
public:
    explicit CountingDesktop(QString picture) : m_picture(std::move(picture)) {}

    void showErrorReport(const QString& text) override
    {
        std::printf("report %d\n", ++reports);
        std::fflush(stdout);
        if (reports == 3 && !m_picture.isEmpty()) {
            QTimer::singleShot(1000, [picture = m_picture] {
                const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(picture);
                std::printf(saved ? "pictured\n" : "no picture\n");
                std::fflush(stdout);
            });
        }
        QtDesktop::showErrorReport(text);
    }

    int reports = 0;

private:
    QString m_picture;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s <file.pst> <output folder> [picture.png]\n", argv[0]);
        return 2;
    }
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    QApplication application(argc, argv);
    const QString pst = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);

    CountingDesktop desktop(argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString());
    Settings settings;
    settings.write(SettingsKey::Text1, output + u'/');
    Form1 form(desktop, settings, Environment(config.path(), config.path(), QCoreApplication::applicationDirPath()));
    desktop.setWindow(&form);
    wireForm1(form);
    QTimer::singleShot(500, &form, [&] {
        form.ListView1->addTopLevelItem(new QTreeWidgetItem(QStringList{pst}));
        form.PushButton2->click();
    });
    const int status = startForm1(form, Form_Load);
    std::printf("reports %d, status %d\n", desktop.reports, status);
    return status;
}
