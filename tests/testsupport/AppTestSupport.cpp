#include "testsupport/AppTestSupport.h"

#include "app/FormLoad.h"
#include "app/Wiring.h"
#include "diagnostics/ErrorReport.h"
#include "diagnostics/Yield.h"
#include "sources/SourceList.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QSettings>
#include <QtEndian>

namespace parcelon::test {

using namespace Qt::StringLiterals;

WindowTest::WindowTest()
    : desktopFolder(m_root.filePath(u"home/Desktop"_s))
    , homeFolder(m_root.filePath(u"home"_s))
    , programFolder(m_root.filePath(u"program"_s))
{
    QDir root(m_root.path());
    root.mkpath(u"home/Desktop"_s);
    root.mkpath(u"program"_s);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_root.filePath(u"config"_s));
    clearProgramEnd();
}

WindowTest::~WindowTest()
{
    form.reset();
    settings.reset();
    clearProgramEnd();
}

QString WindowTest::settingsFile() const
{
    return m_root.filePath(u"config/Wrenfield/Parcelon.ini"_s);
}

void WindowTest::store(QStringView key, const QString& value)
{
    QSettings file(settingsFile(), QSettings::IniFormat);
    file.setValue(u"Parcelon/"_s + key.toString(), value);
    file.sync();
    ASSERT_EQ(file.status(), QSettings::NoError);
}

std::optional<QString> WindowTest::storedOnDisk(QStringView key) const
{
    // A store of its own over a fresh copy of the file, so nothing cached
    // in this process stands in for what reached the disk.
    static int copies = 0;
    const QString copy = m_root.filePath(u"observed-%1.ini"_s.arg(++copies));
    if (!QFile::copy(settingsFile(), copy))
        return std::nullopt;
    QSettings file(copy, QSettings::IniFormat);
    const QVariant value = file.value(u"Parcelon/"_s + key.toString());
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

Form1& WindowTest::makeForm()
{
    form.reset();
    settings = std::make_unique<Settings>();
    form = std::make_unique<Form1>(desktop, *settings, Environment(desktopFolder, homeFolder, programFolder));
    wireForm1(*form);
    return *form;
}

Form1& WindowTest::startForm()
{
    makeForm();
    Form_Load(*form);
    return *form;
}

QStringList listed(const Form1& form)
{
    QStringList texts;
    for (int position = 1; position <= sourceCount(form); ++position)
        texts << sourceText(form, position);
    return texts;
}

QString startUpReport(const QString& description, int line)
{
    return errorReportText(description, Location::Form_Load.text, Location::Form_Load.form, line);
}

QByteArray pointerFile(QSize size, std::optional<QPoint> cursorHotspot)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "ico").write(image);
    if (cursorHotspot) {
        qToLittleEndian<quint16>(2, bytes.data() + 2);
        qToLittleEndian<quint16>(cursorHotspot->x(), bytes.data() + 10);
        qToLittleEndian<quint16>(cursorHotspot->y(), bytes.data() + 12);
    }
    return bytes;
}

} // namespace parcelon::test
