#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace parcelon {

// Failure numbers that change what the program does; every other failure
// carries one of the general numbers.
namespace FailureNumber {
inline constexpr int General = 5;
inline constexpr int TypeMismatch = 13;
inline constexpr int PermissionDenied = 70;
inline constexpr int FileError = 75;
inline constexpr int PathNotFound = 76;
} // namespace FailureNumber

// A failure raised by any part of the program: a number and a description
// that reaches the error report unchanged.
class Failure : public std::exception {
public:
    Failure(int number, QString description);
    explicit Failure(QString description);

    // The failure for a failed system call: 70 for EACCES/EPERM, 76 for
    // ENOENT/ENOTDIR, 75 for any other errno. The description names the
    // operation and the path and ends with the system's own text.
    static Failure fromErrno(int error, const QString& operation, const QString& path);

    // The failure number of an errno value.
    static int numberOf(int error);

    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_utf8;
};

// The number and description of any failure the program catches.
int failureNumber(const std::exception& e);
QString failureDescription(const std::exception& e);

} // namespace parcelon
