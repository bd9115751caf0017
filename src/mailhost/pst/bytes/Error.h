#pragma once

#include <QString>

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

// An error of the engine: its kind, a description that names the file, the
// structure, ids and offsets, and for Io the system's error number.
class Error {
public:
    Error(ErrorKind kind, QString description, int systemError = 0)
        : m_kind(kind), m_description(std::move(description)), m_systemError(systemError)
    {
    }

    ErrorKind kind() const { return m_kind; }
    const QString& description() const { return m_description; }
    int systemError() const { return m_systemError; }

    // The same error seen from one level up: "<context>: <description>".
    // Where both begin by naming the same file, the file is named once.
    Error context(const QString& outer) const
    {
        QString inner = m_description;
        const qsizetype colon = inner.indexOf(QStringLiteral(": "));
        if (colon > 0 && outer.startsWith(QStringView(inner).left(colon)))
            inner.remove(0, colon + 2);
        return Error(m_kind, outer + QStringLiteral(": ") + inner, m_systemError);
    }

private:
    ErrorKind m_kind;
    QString m_description;
    int m_systemError;
};

inline Error corrupt(QString description)
{
    return Error(ErrorKind::Corrupt, std::move(description));
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
