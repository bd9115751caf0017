#include "extraction/HostCheck.h"

#include "diagnostics/Desktop.h"
#include "diagnostics/ErrorReport.h"
#include "diagnostics/Yield.h"
#include "mailhost/model/Registry.h"

namespace parcelon {

using namespace Qt::StringLiterals;

void EnsureMailHost(Desktop& desktop)
{
    try {
        if (mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId))
            return;
    } catch (const std::exception&) {
    }
    const QString paragraphBreak = u"\r\n\r\n"_s;
    desktop.showMessage(
        u"Error 6631. A normal instance of Outlook could not be created."_s + paragraphBreak
        + u"1. Please make sure Outlook is installed on this computer."_s + paragraphBreak
        + u"2. Please make sure that you have properly configured Outlook such that the 'Getting Started' wizard does not show."_s
        + paragraphBreak
        + u"3. Please open Outlook normally and make sure a clean inbox opens immediately without any interrupting window (popups, messages)."_s
        + paragraphBreak + u"Please email a screenshot of this message to "_s + kSupportAddress.toString()
        + u" if you have done all of above and are still having problems."_s);
    throw ProgramEnding{1};
}

} // namespace parcelon
