#include "window/Settings.h"

#include "diagnostics/Failure.h"

#include <QRegularExpression>
#include <QSettings>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

QString storeKey(QStringView key)
{
    QString path = u"Parcelon/"_s;
    path += key;
    return path;
}

QString statusText(QSettings::Status status)
{
    return status == QSettings::AccessError ? u"access denied"_s : u"format error"_s;
}

} // namespace

Settings::Settings()
    : m_store(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, u"Wrenfield"_s, u"Parcelon"_s))
{
}

Settings::~Settings() = default;

QString Settings::read(QStringView key, const QString& defaultValue) const
{
    return m_store->value(storeKey(key), defaultValue).toString();
}

bool Settings::readBoolean(QStringView key, const QString& defaultText) const
{
    return toBoolean(read(key, defaultText));
}

void Settings::write(QStringView key, const QString& value)
{
    m_store->setValue(storeKey(key), value);
    m_store->sync();
    if (m_store->status() != QSettings::NoError)
        throw Failure(FailureNumber::FileError,
                      u"Cannot write the settings file %1: %2"_s.arg(m_store->fileName(), statusText(m_store->status())));
}

void Settings::writeBoolean(QStringView key, bool value)
{
    write(key, booleanText(value));
}

void Settings::writeReportingOnce(QStringView key, const QString& value)
{
    try {
        write(key, value);
    } catch (const Failure&) {
        if (m_failureRaised)
            return;
        m_failureRaised = true;
        throw;
    }
}

QString Settings::fileName() const
{
    return m_store->fileName();
}

bool Settings::toBoolean(QStringView text)
{
    static const QRegularExpression number(u"^[+-]?(?:([0-9]+)(?:\\.([0-9]*))?|\\.([0-9]+))(?:[eE][+-]?[0-9]+)?$"_s);
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    const QStringView word = text.sliced(first, last - first);
    if (word.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (word.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    const QRegularExpressionMatch match = number.match(word.toString());
    if (!match.hasMatch())
        throw Failure(FailureNumber::TypeMismatch, u"Type mismatch"_s);
    // Non-zero exactly when a digit of the mantissa is; the exponent cannot change that.
    for (int group = 1; group <= 3; ++group)
        for (QChar digit : match.capturedView(group))
            if (digit != u'0')
                return true;
    return false;
}

QString Settings::booleanText(bool value)
{
    return value ? u"True"_s : u"False"_s;
}

} // namespace parcelon
