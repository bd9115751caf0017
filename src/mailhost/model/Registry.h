#pragma once

#include "mailhost/model/Automation.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>

namespace parcelon::mailhost {

// The objects the program can create by their programmatic identifier.
// The engine registers itself as "Outlook.Application".
class Registry {
public:
    using Factory = std::function<std::shared_ptr<Application>()>;

    // The process's registry, with the engine registered.
    static Registry& global();

    void add(const QString& progId, Factory factory);
    void remove(const QString& progId);

    // Fails (number 429) when nothing is registered under `progId`.
    std::shared_ptr<Application> CreateObject(const QString& progId) const;

private:
    std::map<QString, Factory> m_factories;
};

inline const QString kApplicationProgId = QStringLiteral("Outlook.Application");

} // namespace parcelon::mailhost
