#pragma once

#include "window/Environment.h"

#include <QCursor>
#include <QPalette>
#include <QPersistentModelIndex>
#include <QString>
#include <QWidget>

#include <optional>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace parcelon {

class Desktop;
class ProgressBar;
class Settings;

// The window is laid out in twips: 15 to a pixel, rounded to the nearest.
constexpr int pixelsFromTwips(int twips)
{
    return (2 * twips + 15) / 30;
}

// Sets the colour that a control fills its background with.
void setBackgroundColour(QWidget* control, const QColor& colour);

// Sets the colour of a control's text in `role`: `text` while it is enabled,
// `disabledText` while it is not.
void setTextColours(QWidget* control, QPalette::ColorRole role, const QColor& text, const QColor& disabledText);

// The window's mouse pointer. Busy doubles as the program's busy flag.
enum class MousePointer { Default = 0, Busy = 11, Custom = 99 };

// The list's own pointer: the arrow shows the window's pointer through it,
// the custom image is the drag pointer.
enum class ListPointer { Arrow = 1, Custom = 99 };

// The main window: every control under its own name (also its objectName),
// laid out as designed, and the state that the handlers share for the life
// of the process. Handlers are free functions taking the window.
class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(Desktop& desktop, Settings& settings, Environment environment);
    ~Form1() override;

    QTreeWidget* const ListView1;
    QPushButton* const PushButton1;
    QPushButton* const PushButton4;
    QPushButton* const PushButton3;
    QPushButton* const PushButton5;
    QGroupBox* const Frame1;
    QRadioButton* const Option1;
    QGroupBox* const Frame2;
    QLineEdit* const Text1;
    QPushButton* const PushButton6;
    QRadioButton* const Option2;
    QPushButton* const PushButton2;
    ProgressBar* const ProgressBar1;

    // True while an extraction run is going on.
    bool RunInProgress = false;
    // The PST file that the run is working on now.
    QString CurrentSourceFile;

    // Moving an item through the list with the mouse.
    bool DragActive = false;
    QPersistentModelIndex DraggedItem;
    QPersistentModelIndex ItemUnderPointer;
    // The button of the press in the list that is being handled now.
    Qt::MouseButton PressedButton = Qt::NoButton;

    // The folders last chosen with the browse button and for the folder scan.
    QString LastFolderDot;
    QString LastFolder;

    MousePointer mousePointer() const { return m_pointer; }
    void setMousePointer(MousePointer pointer);
    bool isBusy() const { return m_pointer == MousePointer::Busy; }

    // The image of the custom pointer; without one it is Qt's pointing hand.
    void setCustomPointerImage(const QCursor& image);
    const std::optional<QCursor>& customPointerImage() const { return m_customPointer; }

    ListPointer listPointer() const { return m_listPointer; }
    // The custom list pointer shows `image`.
    void setListPointer(ListPointer pointer, const QCursor& image = {});

    // Sets an option button as code does: selecting one deselects the
    // other, deselecting leaves both deselected.
    void setOptionSelected(QRadioButton* option, bool selected);

    // Moves the window to the middle of its screen.
    void centreOnScreen();

    Desktop& desktop() const { return m_desktop; }
    Settings& settings() const { return m_settings; }
    const Environment& environment() const { return m_environment; }

private:
    Desktop& m_desktop;
    Settings& m_settings;
    Environment m_environment;
    MousePointer m_pointer = MousePointer::Default;
    ListPointer m_listPointer = ListPointer::Arrow;
    std::optional<QCursor> m_customPointer;
};

} // namespace parcelon
