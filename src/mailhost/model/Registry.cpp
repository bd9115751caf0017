#include "mailhost/model/Registry.h"

#include "diagnostics/Failure.h"

namespace parcelon::mailhost {

Registry& Registry::global()
{
    static Registry registry = [] {
        Registry r;
        r.add(kApplicationProgId, [] { return std::make_shared<Application>(); });
        return r;
    }();
    return registry;
}

void Registry::add(const QString& progId, Factory factory)
{
    m_factories[progId.toLower()] = std::move(factory);
}

void Registry::remove(const QString& progId)
{
    m_factories.erase(progId.toLower());
}

std::shared_ptr<Application> Registry::CreateObject(const QString& progId) const
{
    auto it = m_factories.find(progId.toLower());
    if (it == m_factories.end())
        throw Failure(429, QStringLiteral("ActiveX component can't create object \"%1\"").arg(progId));
    return it->second();
}

} // namespace parcelon::mailhost
