#include "app/PointerFeedback.h"

#include "window/Form1.h"

namespace parcelon {

void PushButton_MouseMove(Form1& form, QMouseEvent&)
{
    if (!form.isBusy())
        form.setMousePointer(MousePointer::Custom);
}

void Form_MouseMove(Form1& form, QMouseEvent&)
{
    if (!form.isBusy())
        form.setMousePointer(MousePointer::Default);
}

} // namespace parcelon
