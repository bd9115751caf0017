#include "app/EventRoutes.h"

#include "diagnostics/HandlerGuard.h"

#include <algorithm>

namespace parcelon {

EventRoutes::EventRoutes(Desktop& desktop, QObject* parent) : QObject(parent), m_desktop(desktop)
{
}

void EventRoutes::route(QObject* control, QEvent::Type type, QStringView handlerName, Handler handler, Delivery delivery)
{
    const bool watched =
        std::any_of(m_routes.begin(), m_routes.end(), [control](const Route& route) { return route.control == control; });
    m_routes.push_back({control, type, handlerName.toString(), std::move(handler), delivery});
    if (!watched)
        control->installEventFilter(this);
}

bool EventRoutes::eventFilter(QObject* watched, QEvent* event)
{
    bool consumed = false;
    for (const Route& route : m_routes) {
        if (route.control != watched || route.type != event->type())
            continue;
        guardHandler(m_desktop, route.handlerName, [&] { route.handler(*event); });
        consumed = consumed || route.delivery == Delivery::Consume;
    }
    return consumed;
}

} // namespace parcelon
