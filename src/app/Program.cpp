#include "app/Program.h"

#include "app/FormLoad.h"
#include "app/Wiring.h"
#include "diagnostics/Yield.h"
#include "window/Environment.h"
#include "window/Form1.h"
#include "window/QtDesktop.h"
#include "window/Settings.h"

#include <QApplication>

namespace parcelon {

int runProgram(int argc, char** argv)
{
    QApplication application(argc, argv);
    QtDesktop desktop;
    Settings settings;
    Form1 form(desktop, settings, Environment::system());
    desktop.setWindow(&form);
    wireForm1(form);
    return startForm1(form, Form_Load);
}

int startForm1(Form1& form, const StartUpSequence& startUp)
{
    try {
        startUp(form);
    } catch (const ProgramEnding& ending) {
        return ending.exitCode;
    }
    form.centreOnScreen();
    form.show();
    // Once shown, the window's frame is known.
    form.centreOnScreen();
    return QApplication::exec();
}

} // namespace parcelon
