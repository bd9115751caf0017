#pragma once

#include <QString>
#include <QStringView>

namespace parcelon {

class Desktop;

// The address that the long error report and the mail-host message ask the
// user to write to.
inline constexpr QStringView kSupportAddress = u"support@wrenfield.example";

enum class ReportForm {
    Short, // description, location and step
    Long,  // the same, then the request to e-mail a screenshot
};

// Where a report comes from: the fixed location text of one procedure.
struct ReportLocation {
    QStringView text;
    ReportForm form;
};

// The procedures that guard their bodies with numbered steps.
namespace Location {
inline constexpr ReportLocation PushButton1_Click{u"in Tovarek2021/08/31.Form1.PushButton1_Click ", ReportForm::Long};
inline constexpr ReportLocation PushButton2_Click{u"in Tovarek2021/08/31.Form1.PushButton2_Click ", ReportForm::Short};
inline constexpr ReportLocation PushButton3_Click{u"in Tovarek2021/08/31.Form1.PushButton3_Click ", ReportForm::Long};
inline constexpr ReportLocation PushButton4_Click{u"in Tovarek2021/08/31.Form1.PushButton4_Click ", ReportForm::Long};
inline constexpr ReportLocation PushButton5_Click{u"in Tovarek2021/08/31.Form1.PushButton5_Click ", ReportForm::Long};
inline constexpr ReportLocation PushButton6_Click{u"in Tovarek2021/08/31.Form1.PushButton6_Click ", ReportForm::Short};
inline constexpr ReportLocation Form_Load{u"in Tovarek2021/08/31.Form1.Form_Load ", ReportForm::Short};
inline constexpr ReportLocation ExtractAttachmentFromPST{u"in Tovarek2021/08/31.Form1.ExtractAttachmentFromPST ",
                                                         ReportForm::Long};
inline constexpr ReportLocation GetMailItems{u"in Tovarek2021/08/31.Form1.GetMailItems ", ReportForm::Short};
inline constexpr ReportLocation SetNewAttachnentName{u"in Tovarek2021/08/31.Form1.SetNewAttachnentName ", ReportForm::Long};
inline constexpr ReportLocation GetSubDirectories2016{u"in DunmoreTitle2021/08/31.AddFolder.GetSubDirectories2016 ",
                                                      ReportForm::Long};
} // namespace Location

// The location text of a window event handler without numbered steps of its
// own ("in Tovarek2021/08/31.Form1.<handler> ").
QString handlerLocationText(QStringView handler);

// The text of the error report: the description, CR LF, the location,
// "at line " and the step; the long form adds CR CR and the e-mail request.
QString errorReportText(const QString& description, QStringView location, ReportForm form, int line);

void showErrorReport(Desktop& desktop, const QString& description, const ReportLocation& where, int line);

} // namespace parcelon
