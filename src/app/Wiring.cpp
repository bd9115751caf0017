#include "app/Wiring.h"

#include "app/EventRoutes.h"
#include "app/Form1.h"
#include "app/OutputFolder.h"
#include "diagnostics/HandlerGuard.h"
#include "diagnostics/Yield.h"

#include <QLineEdit>

namespace parcelon {

namespace {

// Closing the window ends the program; a handler caught in a yield unwinds.
void Form_Unload(Form1&)
{
    requestProgramEnd();
}

template <class Sender, class Signal>
void onSignal(Form1& form, Sender* sender, Signal signal, QStringView handlerName, void (*handler)(Form1&))
{
    QObject::connect(sender, signal, &form, [&form, name = handlerName.toString(), handler] {
        guardHandler(form.desktop(), name, [&] { handler(form); });
    });
}

} // namespace

void wireForm1(Form1& form)
{
    // Signals: one line per handler.
    onSignal(form, form.Text1, &QLineEdit::textChanged, u"Text1_Change", Text1_Change);

    // Events of the window and the list: one line per handler. The list's
    // mouse and drop events arrive on form.ListView1->viewport(), its keys
    // on form.ListView1.
    auto* routes = new EventRoutes(form.desktop(), &form);
    routes->route(&form, QEvent::Close, u"Form_Unload", [&form](QEvent&) { Form_Unload(form); });
}

} // namespace parcelon
