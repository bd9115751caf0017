#pragma once

class QKeyEvent;
class QMouseEvent;

namespace parcelon {

class Form1;

// Editing the source list with the mouse and the keyboard: a press starts a
// drag, moving with a button held carries the pressed item's text through
// the list one neighbour at a time, a double-click or the Delete key
// removes the selected item unless the window is busy.
void ListView1_MouseDown(Form1& form, QMouseEvent& event);
void ListView1_ItemClick(Form1& form);
void ListView1_MouseMove(Form1& form, QMouseEvent& event);
void ListView1_MouseUp(Form1& form, QMouseEvent& event);
void ListView1_DblClick(Form1& form, QMouseEvent& event);
void ListView1_KeyDown(Form1& form, QKeyEvent& event);

// Removes the selected item; nothing while busy or with nothing selected.
void removeSelectedSource(Form1& form);

// Screen rows above and below which a moved text scrolls the list.
inline constexpr int kScrollUpBelowRow = 305;
inline constexpr int kScrollDownFromRow = 365;

} // namespace parcelon
