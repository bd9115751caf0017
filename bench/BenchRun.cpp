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
//   parcelon_bench_run scan FOLDER EXTENSION
//       The real window offscreen and shown, the real click on "Add All PST
//       Files In Folder", the prompt answered with EXTENSION and the folder
//       picker with FOLDER. Prints the seconds from the prompt's answer to
//       the default pointer, the files listed and the window's longest
//       stall in milliseconds (the longest wait of a 1 ms timer).
//
// Dialogs are answered at once (there is no one to click them) and the
// settings live in a temporary folder, never in the user's own.

#include "app/FormLoad.h"
#include "app/Wiring.h"
#include "diagnostics/Desktop.h"
#include "sources/SourceList.h"
#include "window/Environment.h"
#include "window/Form1.h"
#include "window/QtDesktop.h"
#include "window/Settings.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace parcelon;
using namespace Qt::StringLiterals;

namespace {

long long monotonicNanoseconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Answers every dialog at once: OK, No, cancel. Reports go to stderr.
class AnsweringDesktop : public Desktop {
public:
    QStringList messages;
    int reports = 0;
    QString extension;
    QString folder;
    long long answered = 0; // when the prompt was answered

    void showMessage(const QString& text) override { messages << text; }
    bool askYesNo(const QString&) override { return false; }
    void showErrorReport(const QString& text) override
    {
        ++reports;
        std::fprintf(stderr, "error report: %s\n", qPrintable(text));
    }
    QString promptText(const QString&, const QString&, const QString&) override
    {
        answered = monotonicNanoseconds();
        return extension;
    }
    QStringList chooseOpenFiles(const QString&, const QStringList&, const QString&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return folder; }
    bool openUrl(const QUrl&) override { return false; }
    double randomDraw() override { return 0.5; }
    int pointerScreenRow() override { return 330; }
};

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

// The longest time the window waited for its events, from a timer due every
// millisecond.
class StallWatch : public QObject {
public:
    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const long long now = monotonicNanoseconds();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_last = monotonicNanoseconds();
        m_timer.start();
    }
    double longestMilliseconds()
    {
        m_timer.stop();
        m_longest = std::max(m_longest, monotonicNanoseconds() - m_last);
        return m_longest / 1e6;
    }

private:
    QTimer m_timer;
    long long m_last = 0;
    long long m_longest = 0;
};

int scan(const QString& folder, const QString& extension, const QTemporaryDir& home)
{
    AnsweringDesktop desktop;
    desktop.folder = folder;
    desktop.extension = extension;
    Settings settings;
    Form1 form(desktop, settings, Environment(home.path(), home.path(), QCoreApplication::applicationDirPath()));
    wireForm1(form);
    Form_Load(form);
    form.show();
    QCoreApplication::processEvents();
    StallWatch stalls;
    stalls.start();
    form.PushButton4->click();
    const long long ended = monotonicNanoseconds();
    const double stall = stalls.longestMilliseconds();
    if (form.mousePointer() != MousePointer::Default || desktop.answered == 0 || desktop.reports != 0) {
        std::fprintf(stderr, "the scan did not end as it should\n");
        return 1;
    }
    std::printf("%.4f %d %.2f\n", (ended - desktop.answered) / 1e9, form.ListView1->topLevelItemCount(), stall);
    return 0;
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
    if (args.size() == 4 && args[1] == u"scan"_s)
        return scan(args[2], args[3], home);
    std::fputs("usage: parcelon_bench_run extract PST OUTPUT_FOLDER | startup | scan FOLDER EXTENSION\n", stderr);
    return 2;
}
