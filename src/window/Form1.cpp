#include "window/Form1.h"

#include "window/ProgressBar.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTreeWidget>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

void place(QWidget* control, const char* name, int left, int top, int width, int height)
{
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(pixelsFromTwips(left), pixelsFromTwips(top), pixelsFromTwips(width), pixelsFromTwips(height));
}

QPushButton* makeButton(QWidget* parent, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    QFont font(u"Arial"_s);
    font.setPointSizeF(11.25);
    font.setBold(true);
    button->setFont(font);
    // Enter and Return press a focused button, as Space does.
    button->setAutoDefault(true);
    return button;
}

// The frames are drawn as an outline only, so that their insides show the
// frame's own background, white as designed (the style's own frame tints it).
class FrameOutlineStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element != PE_FrameGroupBox) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        // The frame begins below the title, where the style's own begins.
        constexpr int topMargin = 4;
        int top = topMargin;
        if (const auto* frame = qobject_cast<const QGroupBox*>(widget); frame && !frame->title().isEmpty())
            top += std::max(pixelMetric(PM_ExclusiveIndicatorHeight, option, widget), option->fontMetrics.height());
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QColor line = option->palette.color(QPalette::WindowText);
        line.setAlpha(72);
        painter->setPen(line);
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, top + 0.5, -0.5, -0.5), 2, 2);
        painter->restore();
    }
};

} // namespace

void setBackgroundColour(QWidget* control, const QColor& colour)
{
    QPalette palette = control->palette();
    palette.setColor(control->backgroundRole(), colour);
    control->setPalette(palette);
}

void setTextColours(QWidget* control, QPalette::ColorRole role, const QColor& text, const QColor& disabledText)
{
    QPalette palette = control->palette();
    palette.setColor(QPalette::Active, role, text);
    palette.setColor(QPalette::Inactive, role, text);
    palette.setColor(QPalette::Disabled, role, disabledText);
    control->setPalette(palette);
}

Form1::Form1(Desktop& desktop, Settings& settings, Environment environment)
    : QWidget(nullptr,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                  | Qt::WindowCloseButtonHint)
    , ListView1(new QTreeWidget(this))
    , PushButton1(makeButton(this, u"Add PST File(s)"_s))
    , PushButton4(makeButton(this, u"Add All PST Files In Folder"_s))
    , PushButton3(makeButton(this, u"Clear List"_s))
    , PushButton5(makeButton(this, u"Load Sample/Example Files"_s))
    , Frame1(new QGroupBox(u"Save Option"_s, this))
    , Option1(new QRadioButton(u"Save results to this folder:"_s, Frame1))
    , Frame2(new QGroupBox(Frame1))
    , Text1(new QLineEdit(Frame2))
    , PushButton6(makeButton(Frame2, u"..."_s))
    , Option2(new QRadioButton(u"Save results in folder of original file"_s, Frame1))
    , PushButton2(makeButton(this, u"Start Extracting Attachments"_s))
    , ProgressBar1(new ProgressBar(this))
    , m_desktop(desktop)
    , m_settings(settings)
    , m_environment(std::move(environment))
{
    setObjectName(u"Form1"_s);
    setWindowTitle(u"Form1"_s);
    setFixedSize(pixelsFromTwips(8040), pixelsFromTwips(6840));
    setFont(QFont(u"Arial"_s, 9, QFont::Bold));

    place(ListView1, "ListView1", 120, 120, 7800, 2535);
    place(PushButton1, "PushButton1", 120, 2745, 3840, 405);
    place(PushButton4, "PushButton4", 4080, 2745, 3840, 405);
    place(PushButton3, "PushButton3", 120, 3255, 3840, 405);
    place(PushButton5, "PushButton5", 4080, 3255, 3840, 405);
    place(Frame1, "Frame1", 120, 3720, 7800, 1815);
    place(Option1, "Option1", 240, 300, 3615, 255);
    place(Frame2, "Frame2", 240, 480, 7320, 820);
    place(Text1, "Text1", 240, 300, 6000, 345);
    place(PushButton6, "PushButton6", 6480, 300, 600, 345);
    place(Option2, "Option2", 240, 1410, 3615, 255);
    place(PushButton2, "PushButton2", 120, 5745, 7800, 405);
    place(ProgressBar1, "ProgressBar1", 120, 6255, 7800, 405);
    // Option1 reaches into Frame2's top edge: keep its caption in front.
    Option1->raise();

    ListView1->setFont(font());
    ListView1->setToolTip(u"Drag and drop files here. Double-click item to remove it. "
                          "Move | line to right and out of window to reveal full names."_s);
    ListView1->setColumnCount(1);
    ListView1->setHeaderLabels({QString()});
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setDragEnabled(false);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionResizeMode(QHeaderView::Interactive);
    ListView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Files dropped from the desktop land on the list's surface.
    ListView1->viewport()->setAcceptDrops(true);

    // Pointer feedback needs moves without a button held. The buttons, the
    // box, the options and the bar pass no mouse event on to the frame or
    // window around them, which would reset the pointer over them.
    for (QWidget* surface : std::initializer_list<QWidget*>{this, Frame1, Frame2, ListView1->viewport()})
        surface->setMouseTracking(true);
    for (QPushButton* button : {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6}) {
        button->setMouseTracking(true);
        button->setAttribute(Qt::WA_NoMousePropagation);
    }
    for (QWidget* control : std::initializer_list<QWidget*>{Text1, Option1, Option2, ProgressBar1})
        control->setAttribute(Qt::WA_NoMousePropagation);

    ProgressBar1->setText(u"Progress Bar"_s);

    // The designed look: white window, frames, option buttons and text box,
    // with dark text whatever the desktop's theme (a dark theme's light text
    // would vanish on white). Disabled text keeps 4.5 : 1 against white.
    setBackgroundColour(this, Qt::white);
    for (QWidget* control : std::initializer_list<QWidget*>{Frame1, Frame2, Option1, Option2, Text1}) {
        setBackgroundColour(control, Qt::white);
        control->setAutoFillBackground(true);
    }
    const QColor text(Qt::black);
    const QColor disabledText(0x76, 0x76, 0x76);
    for (QWidget* control : std::initializer_list<QWidget*>{Frame1, Frame2, Option1, Option2, Text1}) {
        setTextColours(control, QPalette::WindowText, text, disabledText);
        setTextColours(control, QPalette::Text, text, disabledText);
    }
    // The option buttons' circles are drawn on the base colour.
    for (QWidget* control : std::initializer_list<QWidget*>{Option1, Option2}) {
        QPalette palette = control->palette();
        palette.setColor(QPalette::Base, Qt::white);
        control->setPalette(palette);
    }
    auto* frameStyle = new FrameOutlineStyle;
    frameStyle->setParent(this);
    Frame1->setStyle(frameStyle);
    Frame2->setStyle(frameStyle);

    // What a screen reader says of the controls whose captions do not.
    const auto describe = [](QWidget* control, const QString& name, const QString& description) {
        control->setAccessibleName(name);
        control->setAccessibleDescription(description);
    };
    describe(ListView1, u"PST files to process"_s, u"The PST files whose attachments are saved"_s);
    describe(Text1, u"Output folder"_s, u"The folder the attachments are saved in"_s);
    describe(PushButton6, u"Choose output folder"_s, u"Opens a folder picker for the output folder"_s);
    describe(ProgressBar1, u"Progress"_s, u"Which PST file is being processed"_s);
    describe(Frame1, u"Save option"_s, u"Where the attachments are saved"_s);
    describe(Frame2, u"Output folder options"_s, u"The output folder and its browse button"_s);

    setTabOrder(ListView1, PushButton1);
    setTabOrder(PushButton1, PushButton4);
    setTabOrder(PushButton4, PushButton2);
    setTabOrder(PushButton2, PushButton3);
    setTabOrder(PushButton3, PushButton5);
    setTabOrder(PushButton5, Option2);
    setTabOrder(Option2, Option1);
    setTabOrder(Option1, Text1);
    setTabOrder(Text1, PushButton6);
}

Form1::~Form1() = default;

void Form1::setMousePointer(MousePointer pointer)
{
    m_pointer = pointer;
    switch (pointer) {
    case MousePointer::Default:
        setCursor(Qt::ArrowCursor);
        break;
    case MousePointer::Busy:
        setCursor(Qt::WaitCursor);
        break;
    case MousePointer::Custom:
        setCursor(m_customPointer.value_or(QCursor(Qt::PointingHandCursor)));
        break;
    }
}

void Form1::setCustomPointerImage(const QCursor& image)
{
    m_customPointer = image;
    if (m_pointer == MousePointer::Custom)
        setCursor(image);
}

void Form1::setListPointer(ListPointer pointer, const QCursor& image)
{
    m_listPointer = pointer;
    if (pointer == ListPointer::Custom)
        ListView1->setCursor(image);
    else
        ListView1->unsetCursor();
}

void Form1::setOptionSelected(QRadioButton* option, bool selected)
{
    QRadioButton* other = option == Option1 ? Option2 : Option1;
    option->setAutoExclusive(false);
    other->setAutoExclusive(false);
    option->setChecked(selected);
    if (selected)
        other->setChecked(false);
    option->setAutoExclusive(true);
    other->setAutoExclusive(true);
}

void Form1::centreOnScreen()
{
    const QScreen* shown = screen();
    if (!shown)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(shown->availableGeometry().center());
    move(frame.topLeft());
}

} // namespace parcelon
