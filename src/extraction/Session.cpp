#include "extraction/Session.h"

#include "diagnostics/Steps.h"
#include "extraction/FolderWalk.h"
#include "mailhost/model/Registry.h"
#include "window/Form1.h"

namespace parcelon {

using namespace Qt::StringLiterals;

void ExtractAttachmentFromPST(Form1& form, const QString& path)
{
    Steps steps(Location::ExtractAttachmentFromPST, form.desktop());
    std::shared_ptr<mailhost::Application> application;
    std::shared_ptr<mailhost::Namespace> mapi;
    std::shared_ptr<mailhost::Folder> root;

    steps.run(100, [&] { form.setMousePointer(MousePointer::Busy); });
    // Without the application or its namespace nothing else can be done.
    if (steps.assign(102, application, [] { return mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId); })
        && steps.assign(104, mapi, [&] { return application->GetNamespace(u"MAPI"_s); })) {
        // A file that does not mount has no store to walk or unmount.
        if (steps.run(106, [&] { mapi->AddStore(path); })) {
            steps.assign(108, root, [&] { return mapi->Folders()->GetLast(); });
            steps.run(110, [&] { GetMailItems(form, root); });
            steps.run(112, [&] { mapi->RemoveStore(root); });
        }
        steps.run(114, [&] { mapi.reset(); });
        steps.run(116, [&] { application.reset(); });
    }
    steps.run(118, [&] { form.setMousePointer(MousePointer::Default); });
}

} // namespace parcelon
