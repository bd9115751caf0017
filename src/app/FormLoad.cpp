#include "app/FormLoad.h"

#include "diagnostics/ApplicationTitle.h"
#include "diagnostics/Desktop.h"
#include "diagnostics/Failure.h"
#include "diagnostics/Steps.h"
#include "extraction/HostCheck.h"
#include "fs/Paths.h"
#include "samples/SampleFiles.h"
#include "window/CursorFile.h"
#include "window/Environment.h"
#include "window/Form1.h"
#include "window/Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStringDecoder>
#include <QTreeWidget>
#include <QUrl>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

constexpr int kTitleLimit = 40;

QString readSkin(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(FailureNumber::FileError, u"Cannot read the skin %1: %2"_s.arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Failure(FailureNumber::FileError, u"Cannot read the skin %1: %2"_s.arg(path, file.errorString()));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw Failure(u"The skin %1 is not UTF-8 text"_s.arg(path));
    return text;
}

} // namespace

void Form_Load(Form1& form)
{
    Steps steps(Location::Form_Load, form.desktop());
    const Environment& environment = form.environment();

    steps.run(100, [&] { ApplySkin(form); });
    steps.run(102, [&] { form.setWindowTitle(kProductName.toString()); });
    steps.run(102, [&] { form.setWindowIcon(QIcon(u":/parcelon/parcelon.png"_s)); });
    steps.run(102, [&] { SetApplicationTitle(); });
    if (steps.test(104, [&] { return FileExists(environment.programFile(u"HAND-M.CUR")); }))
        steps.run(106, [&] { form.setCustomPointerImage(readCursorFile(environment.programFile(u"HAND-M.CUR"))); });
    steps.run(108, [&] { OpenWebSiteByChance(form.desktop()); });
    const auto noSnapshot = [&] { return form.settings().read(SettingsKey::Snapshot, QString()).isEmpty(); };
    if (steps.test(108, noSnapshot))
        steps.run(108, [&] { TakeSampleSnapshot(form); });
    if (steps.test(126, noSnapshot))
        steps.run(126, [&] { TakeSampleSnapshot(form); });
    steps.run(128, [&] { form.ListView1->setHeaderLabels({u"PST File(s)"_s}); });
    steps.run(130, [&] { form.ListView1->header()->resizeSection(0, pixelsFromTwips(7000)); });
    steps.run(132, [&] {
        const QString desktopFolder = DesktopFolderPath(environment);
        form.Text1->setText(form.settings().read(SettingsKey::Text1, desktopFolder));
    });
    steps.run(134, [&] { form.setOptionSelected(form.Option1, form.settings().readBoolean(SettingsKey::Option1, u"1"_s)); });
    steps.run(136, [&] { form.setOptionSelected(form.Option2, form.settings().readBoolean(SettingsKey::Option2, u"0"_s)); });
    if (steps.test(138, [&] { return form.Option1->isChecked(); }))
        steps.run(140, [&] { form.Frame2->setEnabled(true); });
    else
        steps.run(142, [&] { form.Frame2->setEnabled(false); });
    steps.run(144, [&] { EnsureMailHost(form.desktop()); });
}

void ApplySkin(Form1& form)
{
    const QString path = form.environment().programFile(u"x/o.cjs");
    if (!QFileInfo(path).isFile())
        return;
    // On the button-face colour the text takes the button text colour, unless
    // the skin's own style sheet gives colours.
    const QPalette system = QApplication::palette();
    const QColor buttonFace = system.color(QPalette::Button);
    setBackgroundColour(&form, buttonFace);
    for (QWidget* control : form.findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control) || qobject_cast<QGroupBox*>(control)
            || qobject_cast<QLabel*>(control)) {
            setBackgroundColour(control, buttonFace);
            for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text})
                setTextColours(control, role, system.color(QPalette::Active, QPalette::ButtonText),
                               system.color(QPalette::Disabled, QPalette::ButtonText));
            QPalette palette = control->palette();
            palette.setColor(QPalette::Base, buttonFace);
            control->setPalette(palette);
        }
    }
    form.setStyleSheet(readSkin(path));
}

void SetApplicationTitle()
{
    keepApplicationTitle(applicationTitleFor(kProductName.toString()));
    QGuiApplication::setDesktopFileName(u"parcelon"_s);
}

QString applicationTitleFor(const QString& productName)
{
    QString title = productName;
    qsizetype blank = title.lastIndexOf(u' ');
    if (blank < 0)
        return title;
    do {
        title.truncate(blank);
        blank = title.lastIndexOf(u' ');
    } while (title.size() > kTitleLimit && blank >= 0);
    return title;
}

QString DesktopFolderPath(const Environment& environment)
{
    QString folder = environment.desktopFolder();
    if (folder.isEmpty())
        throw Failure(u"The desktop folder cannot be found"_s);
    if (!FolderExists(folder))
        folder = environment.homeFolder();
    return folder + kSeparator;
}

void OpenWebSiteByChance(Desktop& desktop, QStringView address)
{
    const int number = static_cast<int>(desktop.randomDraw() * 100) + 1;
    if (number != 7 || address.isEmpty())
        return;
    if (!desktop.openUrl(QUrl(address.toString())))
        throw Failure(u"Cannot open %1"_s.arg(address));
}

} // namespace parcelon
