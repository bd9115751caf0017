// The program as the benchmark drives it.
//
//   parcelon_bench_run extract PST OUTPUT_FOLDER
//       The real window offscreen, a list holding PST, "Save results to this
//       folder:" OUTPUT_FOLDER, and the real click on "Start Extracting
//       Attachments". Exit status 0 when the run ended with "Done." and no
//       error report.
//   parcelon_bench_run startup
//       Starts the program as it starts for a user and prints, when the
//       window is first painted, the CLOCK_MONOTONIC time in nanoseconds.
//
// Dialogs are answered at once (there is no one to click them) and the
// settings live in a temporary folder, never in the user's own.

#include "window/Environment.h"
#include "window/Form1.h"
#include "app/FormLoad.h"
#include "window/QtDesktop.h"
#include "window/Settings.h"
#include "app/Wiring.h"
#include "diagnostics/Desktop.h"
#include "sources/SourceList.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

using namespace parcelon;
using namespace Qt::StringLiterals;

namespace {

// Answers every dialog at once: OK, No, cancel. Reports go to stderr.
class AnsweringDesktop : public Desktop {
public:
    QStringList messages;
    int reports = 0;

    void showMessage(const QString& text) override { messages << text; }
    bool askYesNo(const QString&) override { return false; }
    void showErrorReport(const QString& text) override
    {
        ++reports;
        std::fprintf(stderr, "error report: %s\n", qPrintable(text));
    }
    QString promptText(const QString&, const QString&, const QString&) override { return {}; }
    QStringList chooseOpenFiles(const QString&, const QStringList&, const QString&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
    bool openUrl(const QUrl&) override { return false; }
    double randomDraw() override { return 0.5; }
    int pointerScreenRow() override { return 330; }
};

long long monotonicNanoseconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Prints the time of the window's first paint and ends the event loop.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            std::printf("%lld\n", monotonicNanoseconds());
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    bool m_seen = false;
};

int extract(const QString& pst, const QString& outputFolder, const QTemporaryDir& home)
{
    AnsweringDesktop desktop;
    Settings settings;
    Form1 form(desktop, settings, Environment(home.path(), home.path(), QCoreApplication::applicationDirPath()));
    wireForm1(form);
    Form_Load(form);
    addSource(form, pst);
    form.setOptionSelected(form.Option1, true);
    form.Text1->setText(outputFolder);
    form.PushButton2->click();
    const bool done = desktop.messages == QStringList{u"Done."_s} && desktop.reports == 0;
    if (!done)
        std::fprintf(stderr, "the run ended with: %s\n", qPrintable(desktop.messages.join(u" | "_s)));
    return done ? 0 : 1;
}

int startup()
{
    QtDesktop desktop;
    Settings settings;
    Form1 form(desktop, settings, Environment::system());
    desktop.setWindow(&form);
    wireForm1(form);
    FirstPaint firstPaint;
    form.installEventFilter(&firstPaint);
    Form_Load(form);
    form.centreOnScreen();
    form.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    QApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == u"extract"_s)
        return extract(args[2], args[3], home);
    if (args.size() == 2 && args[1] == u"startup"_s)
        return startup();
    std::fputs("usage: parcelon_bench_run extract PST OUTPUT_FOLDER | startup\n", stderr);
    return 2;
}
