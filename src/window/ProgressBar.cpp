#include "window/ProgressBar.h"

namespace parcelon {

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
}

void ProgressBar::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

} // namespace parcelon
