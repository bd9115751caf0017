#pragma once

class QMouseEvent;

namespace parcelon {

class Form1;

// Over any of the six push buttons the window shows the hand, over the
// window's surface and its frames the default pointer; the busy pointer
// stays while it is shown.
void PushButton_MouseMove(Form1& form, QMouseEvent& event);
void Form_MouseMove(Form1& form, QMouseEvent& event);

} // namespace parcelon
