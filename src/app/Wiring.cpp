#include "app/Wiring.h"

#include "app/EventRoutes.h"
#include "app/Form1.h"
#include "app/OutputFolder.h"
#include "diagnostics/HandlerGuard.h"
#include "diagnostics/Yield.h"
#include "extraction/Run.h"
#include "sources/AddFiles.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

namespace parcelon {

namespace {

// Closing the window ends the program; a handler caught in a yield unwinds.
void Form_Unload(Form1&, QCloseEvent&)
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

template <class Event>
void onEvent(EventRoutes& routes, Form1& form, QObject* control, QEvent::Type type, QStringView handlerName,
             void (*handler)(Form1&, Event&), EventRoutes::Delivery delivery = EventRoutes::Delivery::PassOn)
{
    routes.route(
        control, type, handlerName, [&form, handler](QEvent& event) { handler(form, static_cast<Event&>(event)); },
        delivery);
}

} // namespace

void wireForm1(Form1& form)
{
    // Signals: one line per handler.
    onSignal(form, form.Text1, &QLineEdit::textChanged, u"Text1_Change", Text1_Change);
    onSignal(form, form.PushButton1, &QPushButton::clicked, u"PushButton1_Click", PushButton1_Click);
    onSignal(form, form.PushButton2, &QPushButton::clicked, u"PushButton2_Click", PushButton2_Click);

    // Events of the window and the list: one line per handler, such as
    //   onEvent(routes, form, form.ListView1->viewport(), QEvent::MouseButtonPress,
    //           u"ListView1_MouseDown", ListView1_MouseDown);
    // The list's mouse and drop events arrive on its viewport, its keys on the list.
    auto& routes = *new EventRoutes(form.desktop(), &form);
    onEvent(routes, form, &form, QEvent::Close, u"Form_Unload", Form_Unload);
}

} // namespace parcelon
