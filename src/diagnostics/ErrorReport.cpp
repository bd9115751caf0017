#include "diagnostics/ErrorReport.h"

#include "diagnostics/Desktop.h"

namespace parcelon {

using namespace Qt::StringLiterals;

QString handlerLocationText(QStringView handler)
{
    QString text = u"in Tovarek2021/08/31.Form1."_s;
    text += handler;
    text += u' ';
    return text;
}

QString errorReportText(const QString& description, QStringView location, ReportForm form, int line)
{
    QString text = description;
    text += u"\r\n"_s;
    text += location;
    text += u"at line "_s;
    text += QString::number(line);
    if (form == ReportForm::Long) {
        text += u"\r\rPlease email screenshot of this message to "_s;
        text += kSupportAddress;
    }
    return text;
}

void showErrorReport(Desktop& desktop, const QString& description, const ReportLocation& where, int line)
{
    desktop.showErrorReport(errorReportText(description, where.text, where.form, line));
}

} // namespace parcelon
