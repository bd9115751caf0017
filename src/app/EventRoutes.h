#pragma once

#include <QEvent>
#include <QObject>
#include <QString>
#include <QStringView>

#include <functional>
#include <vector>

namespace parcelon {

class Desktop;

// Hands chosen events of the window's controls to their handlers, each
// inside the handler edge (guardHandler), so that no failure reaches Qt.
class EventRoutes : public QObject {
    Q_OBJECT
public:
    // Whether the control still gets the event after the handler.
    enum class Delivery { PassOn, Consume };
    using Handler = std::function<void(QEvent&)>;

    EventRoutes(Desktop& desktop, QObject* parent);

    void route(QObject* control, QEvent::Type type, QStringView handlerName, Handler handler,
               Delivery delivery = Delivery::PassOn);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Route {
        QObject* control;
        QEvent::Type type;
        QString handlerName;
        Handler handler;
        Delivery delivery;
    };

    Desktop& m_desktop;
    std::vector<Route> m_routes;
};

} // namespace parcelon
