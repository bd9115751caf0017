#include "app/Wiring.h"

#include "app/EventRoutes.h"
#include "app/ListEditing.h"
#include "app/OutputFolder.h"
#include "app/PointerFeedback.h"
#include "diagnostics/HandlerGuard.h"
#include "diagnostics/Yield.h"
#include "extraction/Run.h"
#include "samples/SampleFiles.h"
#include "sources/AddAllInFolder.h"
#include "sources/AddFiles.h"
#include "sources/ClearList.h"
#include "sources/DropIntake.h"
#include "window/Form1.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

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
        control, type, handlerName, [&form, handler](QEvent& event) { handler(form, static_cast<Event&>(event)); }, delivery);
}

} // namespace

void wireForm1(Form1& form)
{
    using enum QEvent::Type;
    constexpr auto Consume = EventRoutes::Delivery::Consume;

    // Signals: one line per handler.
    onSignal(form, form.Text1, &QLineEdit::textChanged, u"Text1_Change", Text1_Change);
    onSignal(form, form.Option1, &QRadioButton::clicked, u"Option1_Click", Option1_Click);
    onSignal(form, form.Option2, &QRadioButton::clicked, u"Option2_Click", Option2_Click);
    onSignal(form, form.PushButton1, &QPushButton::clicked, u"PushButton1_Click", PushButton1_Click);
    onSignal(form, form.PushButton2, &QPushButton::clicked, u"PushButton2_Click", PushButton2_Click);
    onSignal(form, form.PushButton3, &QPushButton::clicked, u"PushButton3_Click", PushButton3_Click);
    onSignal(form, form.PushButton4, &QPushButton::clicked, u"PushButton4_Click", PushButton4_Click);
    onSignal(form, form.PushButton5, &QPushButton::clicked, u"PushButton5_Click", PushButton5_Click);
    onSignal(form, form.PushButton6, &QPushButton::clicked, u"PushButton6_Click", PushButton6_Click);
    // Emitted by the list's own press handling, once it has selected the item.
    onSignal(form, form.ListView1, &QTreeWidget::itemPressed, u"ListView1_ItemClick", ListView1_ItemClick);

    // Events: one line per handler. The list's mouse and drop events arrive
    // on its viewport, its keys on the list. Its moves and double-clicks are
    // handled here only: the list itself neither selects nor scrolls by them.
    auto& routes = *new EventRoutes(form.desktop(), &form);
    QWidget* list = form.ListView1->viewport();
    onEvent(routes, form, &form, Close, u"Form_Unload", Form_Unload);
    onEvent(routes, form, list, MouseButtonPress, u"ListView1_MouseDown", ListView1_MouseDown);
    onEvent(routes, form, list, MouseButtonDblClick, u"ListView1_MouseDown", ListView1_MouseDown);
    onEvent(routes, form, list, MouseButtonDblClick, u"ListView1_DblClick", ListView1_DblClick, Consume);
    onEvent(routes, form, list, MouseMove, u"ListView1_MouseMove", ListView1_MouseMove, Consume);
    onEvent(routes, form, list, MouseButtonRelease, u"ListView1_MouseUp", ListView1_MouseUp);
    onEvent(routes, form, form.ListView1, KeyPress, u"ListView1_KeyDown", ListView1_KeyDown);
    onEvent(routes, form, list, DragEnter, u"ListView1_OLEDragOver", ListView1_OLEDragOver, Consume);
    onEvent(routes, form, list, DragMove, u"ListView1_OLEDragOver", ListView1_OLEDragOver, Consume);
    onEvent(routes, form, list, Drop, u"ListView1_OLEDragDrop", ListView1_OLEDragDrop, Consume);
    onEvent(routes, form, form.PushButton1, MouseMove, u"PushButton1_MouseMove", PushButton_MouseMove);
    onEvent(routes, form, form.PushButton2, MouseMove, u"PushButton2_MouseMove", PushButton_MouseMove);
    onEvent(routes, form, form.PushButton3, MouseMove, u"PushButton3_MouseMove", PushButton_MouseMove);
    onEvent(routes, form, form.PushButton4, MouseMove, u"PushButton4_MouseMove", PushButton_MouseMove);
    onEvent(routes, form, form.PushButton5, MouseMove, u"PushButton5_MouseMove", PushButton_MouseMove);
    onEvent(routes, form, form.PushButton6, MouseMove, u"PushButton6_MouseMove", PushButton_MouseMove);
    onEvent(routes, form, &form, MouseMove, u"Form_MouseMove", Form_MouseMove);
    onEvent(routes, form, form.Frame1, MouseMove, u"Frame1_MouseMove", Form_MouseMove);
    onEvent(routes, form, form.Frame2, MouseMove, u"Frame2_MouseMove", Form_MouseMove);
}

} // namespace parcelon
