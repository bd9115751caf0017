#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <variant>

namespace parcelon::pst {

// What kind of trouble a read ran into.
enum class ErrorKind {
    NotPst,      // the file is not a PST file at all
    Unsupported, // a PST file of a kind this reader does not handle
    Corrupt,     // a structure of the file is damaged
    Io,          // the system could not read or write
    Exists,      // a target file already exists
    BadName,     // a target name the program refuses
};

// Where a structure or object lies: the file, then the objects that lead to
// it from the outermost in ("folder \"Inbox\"", "item 3 (node 0x200024)",
// "attachment 1", "block 0x44").
struct Where {
    QString file;
    QStringList frames;

    // The object `frame` inside this one.
    Where inside(QString frame) const
    {
        Where where = *this;
        where.frames.append(std::move(frame));
        return where;
    }

    // "<file>, <frame>, <frame>".
    QString text() const
    {
        QStringList parts = frames;
        if (!file.isEmpty())
            parts.prepend(file);
        return parts.join(QStringLiteral(", "));
    }

    bool operator==(const Where&) const = default;
};

// An error of the engine: its kind, where it lies, the reason (the damage,
// with ids and offsets), what could not be done because of it, and for Io
// the system's error number. The message is made of these where it is shown.
class Error {
public:
    Error(ErrorKind kind, QString reason, int systemError = 0)
        : m_kind(kind), m_reason(std::move(reason)), m_systemError(systemError)
    {
    }
    Error(ErrorKind kind, Where where, QString reason, int systemError = 0)
        : m_kind(kind), m_where(std::move(where)), m_reason(std::move(reason)), m_systemError(systemError)
    {
    }

    ErrorKind kind() const { return m_kind; }
    const Where& where() const { return m_where; }
    const QString& reason() const { return m_reason; }
    const QString& action() const { return m_action; }
    int systemError() const { return m_systemError; }

    // The same error seen from the structure `frame` that holds what it names.
    Error withContext(QString frame) const;

    // The same error seen from the object at `where`. An error of another
    // file, or one that names a place among the same objects already, keeps
    // its place; one at an object that holds `where` moves to `where`; one
    // in a structure (frames of no object) goes inside `where`.
    Error withContext(const Where& where) const;

    // The same error as the reason why `action` cannot be done.
    Error withAction(QString action) const;

    // "<action>: <file>, <frame>, …: <reason>", leaving out what it lacks.
    QString message() const;

private:
    ErrorKind m_kind;
    Where m_where;
    QString m_reason;
    QString m_action;
    int m_systemError;
};

inline Error corrupt(QString reason)
{
    return Error(ErrorKind::Corrupt, std::move(reason));
}

inline Error corrupt(Where where, QString reason)
{
    return Error(ErrorKind::Corrupt, std::move(where), std::move(reason));
}

// A value or an error.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, Error> m_state;
};

// Success or an error.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *m_error; }

private:
    std::optional<Error> m_error;
};

inline QString hex(quint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper();
}

} // namespace parcelon::pst
