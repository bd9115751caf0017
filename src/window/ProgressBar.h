#pragma once

#include <QProgressBar>
#include <QString>

namespace parcelon {

// A progress bar that shows its text exactly as given: no format
// placeholders, so a file name holding "%" is shown as it is.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    QString text() const override { return m_text; }
    void setText(const QString& text);

private:
    QString m_text;
};

} // namespace parcelon
