#pragma once

#include "testsupport/ScriptedDesktop.h"
#include "window/Form1.h"
#include "window/Settings.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>

namespace parcelon::test {

// A test of the real window: a settings store of its own, temporary
// desktop, home and program folders, and the scripted desktop.
class WindowTest : public ::testing::Test {
private:
    QTemporaryDir m_root; // first: the folders below live in it

protected:
    WindowTest();
    ~WindowTest() override;

    // The folders the window is given; the desktop may be changed before makeForm().
    QString desktopFolder;
    QString homeFolder;
    QString programFolder;

    // Stores a value as an earlier run of the program would have.
    void store(QStringView key, const QString& value);
    // The value on disk now, or nothing when the key is absent.
    std::optional<QString> storedOnDisk(QStringView key) const;
    QString settingsFile() const;

    // The window, wired as the program wires it; started runs Form_Load.
    Form1& makeForm();
    Form1& startForm();

    ScriptedDesktop desktop;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<Form1> form;
};

// The texts of the source list's items, in list order.
QStringList listed(const Form1& form);

// The error report of the start-up at `line`.
QString startUpReport(const QString& description, int line);

// A pointer file of one blue image: an icon, or a cursor with its hotspot.
QByteArray pointerFile(QSize size, std::optional<QPoint> cursorHotspot = std::nullopt);

} // namespace parcelon::test

// Test output shows texts as text.
inline std::ostream& operator<<(std::ostream& out, const QString& text)
{
    return out << '"' << text.toStdString() << '"';
}
