#pragma once

#include <QString>
#include <QStringView>

#include <memory>

class QSettings;

namespace parcelon {

// The keys of the settings store.
namespace SettingsKey {
inline constexpr QStringView Text1 = u"Text1";
inline constexpr QStringView Option1 = u"Option1";
inline constexpr QStringView Option2 = u"Option2";
inline constexpr QStringView LastFolderDot = u"LastFolderDot";
inline constexpr QStringView LastFolder = u"LastFolder";
inline constexpr QStringView Extension = u"Extension";
inline constexpr QStringView Snapshot = u"Snapshot";
} // namespace SettingsKey

// The per-user settings store: text values of application "Wrenfield",
// section "Parcelon" (the file Wrenfield/Parcelon.ini in the user's
// configuration folder). Every write reaches the disk before it returns.
class Settings {
public:
    Settings();
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // The stored text, or `defaultValue` when the key is absent.
    QString read(QStringView key, const QString& defaultValue) const;

    // The stored text (or `defaultText`) read as a Boolean; failure 13
    // "Type mismatch" when it is no Boolean.
    bool readBoolean(QStringView key, const QString& defaultText) const;

    // Stores the value; a Failure when the store cannot be written.
    void write(QStringView key, const QString& value);
    void writeBoolean(QStringView key, bool value);

    // The same for handlers that have no numbered steps: of the failures of
    // this store only the first is raised, later ones pass in silence.
    void writeReportingOnce(QStringView key, const QString& value);

    QString fileName() const;

    // "True" and "False" in any letter case, or a decimal number (non-zero
    // is true), with blanks around it; failure 13 "Type mismatch" otherwise.
    static bool toBoolean(QStringView text);
    static QString booleanText(bool value);

private:
    std::unique_ptr<QSettings> m_store;
    bool m_failureRaised = false;
};

} // namespace parcelon
