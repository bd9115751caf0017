#include "diagnostics/Failure.h"

#include <cerrno>
#include <cstring>

namespace parcelon {

Failure::Failure(int number, QString description)
    : m_number(number), m_description(std::move(description)), m_utf8(m_description.toUtf8())
{
}

Failure::Failure(QString description) : Failure(FailureNumber::General, std::move(description))
{
}

int Failure::numberOf(int error)
{
    if (error == EACCES || error == EPERM)
        return FailureNumber::PermissionDenied;
    if (error == ENOENT || error == ENOTDIR)
        return FailureNumber::PathNotFound;
    return FailureNumber::FileError;
}

Failure Failure::fromErrno(int error, const QString& operation, const QString& path)
{
    return Failure(numberOf(error),
                   QStringLiteral("%1 %2: %3").arg(operation, path, QString::fromLocal8Bit(std::strerror(error))));
}

int failureNumber(const std::exception& e)
{
    if (auto* failure = dynamic_cast<const Failure*>(&e))
        return failure->number();
    return FailureNumber::General;
}

QString failureDescription(const std::exception& e)
{
    if (auto* failure = dynamic_cast<const Failure*>(&e))
        return failure->description();
    return QString::fromUtf8(e.what());
}

} // namespace parcelon
