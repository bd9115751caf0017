#include "mailhost/pst/bytes/Error.h"

#include <algorithm>

namespace parcelon::pst {

namespace {

bool startsWith(const QStringList& list, const QStringList& prefix)
{
    return list.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), list.begin());
}

} // namespace

Error Error::withContext(QString frame) const
{
    Error error = *this;
    error.m_where.frames.prepend(std::move(frame));
    return error;
}

Error Error::withContext(const Where& where) const
{
    if (!m_where.file.isEmpty() && m_where.file != where.file)
        return *this;
    Error error = *this;
    error.m_where.file = where.file;
    QStringList& frames = error.m_where.frames;
    if (startsWith(where.frames, frames))
        frames = where.frames; // it lies at an object that holds `where`
    else if (where.frames.isEmpty() || frames.front() != where.frames.front())
        frames = where.frames + frames; // it lies in a structure of `where`
    return error;
}

Error Error::withAction(QString action) const
{
    Error error = *this;
    error.m_action = std::move(action);
    return error;
}

QString Error::message() const
{
    QStringList parts;
    if (!m_action.isEmpty())
        parts.append(m_action);
    if (QString place = m_where.text(); !place.isEmpty())
        parts.append(place);
    parts.append(m_reason);
    return parts.join(QStringLiteral(": "));
}

} // namespace parcelon::pst
