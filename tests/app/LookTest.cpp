// The window as a user sees and hears it: readable text in a light and a
// dark desktop theme, with and without a skin, and what a screen reader says.
#include "testsupport/AppTestSupport.h"

#include "testsupport/TestPaths.h"
#include "window/ProgressBar.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <map>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

double luminance(QRgb pixel)
{
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(pixel)) + 0.7152 * channel(qGreen(pixel)) + 0.0722 * channel(qBlue(pixel));
}

double contrast(QRgb a, QRgb b)
{
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

// What is drawn in `area` of the window's picture: its background (the most
// frequent colour) and its text (the pixel farthest from the background).
struct Look {
    QRgb background = 0;
    QRgb text = 0;
    double ratio() const { return contrast(background, text); }
};

Look lookAt(const QImage& picture, QRect area)
{
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[picture.pixel(x, y) | 0xff000000];
    Look look;
    look.background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
    double best = 0;
    for (const auto& [pixel, count] : counts) {
        if (contrast(pixel, look.background) > best) {
            best = contrast(pixel, look.background);
            look.text = pixel;
        }
    }
    return look;
}

// A dark desktop theme, as Adwaita-dark gives it.
QPalette darkPalette()
{
    QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x35, 0x35, 0x35));
    for (auto [role, colour] :
         {std::pair{QPalette::WindowText, QColor(0xee, 0xee, 0xec)}, std::pair{QPalette::Text, QColor(0xee, 0xee, 0xec)},
          std::pair{QPalette::ButtonText, QColor(0xee, 0xee, 0xec)}, std::pair{QPalette::Base, QColor(0x2d, 0x2d, 0x2d)}})
        dark.setColor(role, colour);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(0x91, 0x91, 0x91));
    return dark;
}

class Appearance : public WindowTest {
protected:
    Appearance() : m_system(QApplication::palette()) {}
    ~Appearance() override { QApplication::setPalette(m_system); }

    // The window started and shown, with the output folder's text.
    QImage shown(bool secondOption = false)
    {
        store(u"Text1", u"/home/user/Attachments/"_s);
        store(u"Option1", secondOption ? u"False"_s : u"True"_s);
        store(u"Option2", secondOption ? u"True"_s : u"False"_s);
        Form1& form = startForm();
        form.show();
        QTest::qWait(1);
        return form.grab().toImage();
    }

    // The caption of each white control in the window's picture.
    std::map<QString, Look> captions(const QImage& picture) const
    {
        const auto area = [&](QWidget* control, QRect part) {
            return QRect(control->mapTo(form.get(), part.topLeft()), part.size());
        };
        const int titleHeight = form->Option1->y() - 2;
        return {
            {u"Frame1"_s, lookAt(picture, area(form->Frame1, {4, 0, 140, titleHeight}))},
            {u"Option1"_s, lookAt(picture, area(form->Option1, {22, 0, form->Option1->width() - 22, form->Option1->height()}))},
            {u"Option2"_s, lookAt(picture, area(form->Option2, {22, 0, form->Option2->width() - 22, form->Option2->height()}))},
            {u"Text1"_s, lookAt(picture, area(form->Text1, form->Text1->rect().adjusted(4, 4, -4, -4)))},
        };
    }

private:
    QPalette m_system;
};

} // namespace

TEST_F(Appearance, WhiteControlsKeepReadableTextInLightAndDarkThemes)
{
    for (const QPalette& theme : {QApplication::palette(), darkPalette()}) {
        QApplication::setPalette(theme);
        for (bool secondOption : {false, true}) {
            const QImage picture = shown(secondOption);
            for (const auto& [name, look] : captions(picture)) {
                SCOPED_TRACE(name.toStdString());
                EXPECT_EQ(look.background, QColor(Qt::white).rgb());
                // The output folder is disabled while the second option is chosen.
                EXPECT_GE(look.ratio(), name == u"Text1" && secondOption ? 3.0 : 4.5);
            }
            // The frames' insides are white, where no control covers them.
            EXPECT_EQ(picture.pixel(form->Frame1->mapTo(form.get(), QPoint(form->Frame1->width() - 8, 100))),
                      QColor(Qt::white).rgb());
            EXPECT_EQ(picture.pixel(form->Frame2->mapTo(form.get(), QPoint(8, 30))), QColor(Qt::white).rgb());
            // The controls in the theme's own colours stay readable on them.
            for (QWidget* control : std::initializer_list<QWidget*>{form->PushButton2, form->ProgressBar1}) {
                const Look look = lookAt(picture,
                                         QRect(control->mapTo(form.get(), QPoint(40, 6)),
                                               QSize(control->width() - 80, control->height() - 12)));
                EXPECT_GE(look.ratio(), 4.5) << control->objectName().toStdString();
            }
        }
    }
}

TEST_F(Appearance, UnderASkinTheTextFollowsTheButtonFaceOrTheSkinsOwnColours)
{
    QApplication::setPalette(darkPalette());
    writeFile(programFolder + u"/x/o.cjs"_s, "QPushButton { font-weight: bold; }");
    QImage picture = shown();
    const QRgb face = darkPalette().color(QPalette::Button).rgb();
    for (const auto& [name, look] : captions(picture)) {
        SCOPED_TRACE(name.toStdString());
        if (name == u"Text1")
            continue; // the text box keeps its white
        EXPECT_EQ(look.background, face);
        EXPECT_GE(look.ratio(), 4.5);
    }

    QFile::remove(programFolder + u"/x/o.cjs"_s);
    writeFile(programFolder + u"/x/o.cjs"_s, "QGroupBox, QRadioButton { background-color: #fff3c4; color: #5a1e00; }");
    picture = shown();
    for (const auto& [name, look] : captions(picture)) {
        SCOPED_TRACE(name.toStdString());
        if (name == u"Text1")
            continue;
        EXPECT_EQ(look.background, QColor(0xfff3c4).rgb());
        EXPECT_EQ(look.text, QColor(0x5a1e00).rgb());
    }
}

TEST_F(Appearance, ScreenReadersNameEveryControlAndEnterPressesAFocusedButton)
{
    Form1& form = startForm();
    const auto spoken = [](QWidget* control) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        return accessible ? QStringList{accessible->text(QAccessible::Name), accessible->text(QAccessible::Description)}
                          : QStringList{};
    };
    const std::pair<QWidget*, const char*> named[] = {
        {form.ListView1, "PST files to process"}, {form.Text1, "Output folder"}, {form.PushButton6, "Choose output folder"},
        {form.ProgressBar1, "Progress"},          {form.Frame1, "Save option"},  {form.Frame2, "Output folder options"},
    };
    for (const auto& [control, name] : named) {
        const QStringList said = spoken(control);
        ASSERT_EQ(said.size(), 2) << name;
        EXPECT_EQ(said[0], QString::fromUtf8(name));
        EXPECT_FALSE(said[1].isEmpty()) << name;
    }
    for (QPushButton* button : {form.PushButton1, form.PushButton2, form.PushButton3, form.PushButton4, form.PushButton5})
        EXPECT_EQ(spoken(button).value(0), button->text());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.ListView1)->role(), QAccessible::Tree);

    form.show();
    QApplication::setActiveWindow(&form);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        form.ListView1->addTopLevelItem(new QTreeWidgetItem(QStringList{u"/mail/a.pst"_s}));
        form.PushButton3->setFocus();
        QTest::keyClick(form.PushButton3, key);
        EXPECT_EQ(form.ListView1->topLevelItemCount(), 0) << key;
    }
}
