#include "extraction/FolderWalk.h"

#include "diagnostics/Failure.h"
#include "diagnostics/Steps.h"
#include "diagnostics/Yield.h"
#include "extraction/Naming.h"
#include "fs/FileNames.h"
#include "fs/Paths.h"
#include "mailhost/model/Automation.h"
#include "mailhost/model/ItemClass.h"
#include "window/Form1.h"

#include <QLineEdit>
#include <QRadioButton>

namespace parcelon {

using namespace Qt::StringLiterals;
using mailhost::AttachmentCollection;
using mailhost::Folder;
using mailhost::ItemCollection;

namespace {

// Folders whose subfolders are not walked.
bool skipsSubfolders(const QString& name)
{
    return name == u"Internet Newsgroups"_s || name == u"All Public Folders"_s;
}

template <class T>
const std::shared_ptr<T>& required(const std::shared_ptr<T>& object)
{
    if (!object)
        throw Failure(91, u"Object variable not set"_s);
    return object;
}

// The path to save an attachment under, or nothing when there is no
// folder to put it in.
QString targetFor(Form1& form, const QString& folder, const QString& fileName)
{
    if (folder.isEmpty())
        return QString();
    return CollapseBackslashes(SetNewAttachnentName(form.desktop(), folder + kSeparator + fittingFileName(fileName)));
}

// The items of subfolder `i` of `folder`, with every attachment of each mail
// message saved.
void saveItems(Form1& form, Steps& steps, const std::shared_ptr<Folder>& folder, std::int64_t i)
{
    std::shared_ptr<ItemCollection> items;
    steps.assign(108, items, [&] { return folder->Folders()->Item(i)->Items(); });
    steps.forCount(
        110, 152, [&] { return required(items)->count(); },
        [&](std::int64_t j) {
            steps.run(112, [] { yieldToWindowSystem(); });
            if (steps.test(114, [&] { return items->Item(j)->Class() != mailhost::kMailItemClass; }))
                return;
            if (steps.test(116, [&] { return !(items->Item(j)->Attachments()->count() > 0); }))
                return;
            steps.forCount(
                138, 150, [&] { return items->Item(j)->Attachments()->count(); },
                [&](std::int64_t k) {
                    const auto attachment = [&] { return items->Item(j)->Attachments()->Item(k); };
                    QString target;
                    if (steps.test(140, [&] { return form.Option1->isChecked(); }))
                        steps.assign(142, target, [&] { return targetFor(form, form.Text1->text(), attachment()->fileName()); });
                    else if (steps.test(144, [&] { return form.Option2->isChecked(); }))
                        steps.assign(146, target, [&] {
                            return targetFor(form, FolderOfPath(form.CurrentSourceFile), attachment()->fileName());
                        });
                    steps.run(148, [&] {
                        if (target.isEmpty())
                            throw Failure(u"No target path for attachment \"%1\" in folder \"%2\""_s
                                              .arg(attachment()->fileName(), folder->Folders()->Item(i)->Name()));
                        attachment()->SaveAsFile(target);
                    });
                });
        });
}

} // namespace

// One procedure call per folder, as the steps are numbered; the calls for
// the folders below are kept on a list instead of the stack, so that a tree
// of any depth is walked whole.
void GetMailItems(Form1& form, const std::shared_ptr<Folder>& folder)
{
    Steps steps(Location::GetMailItems, form.desktop());
    struct Call {
        std::shared_ptr<Folder> folder;
        std::int64_t last = 0;    // the bound of the loop over its subfolders
        std::int64_t counter = 1; // the subfolder being walked
        bool below = false;       // the subfolder's own call has been made
    };
    std::vector<Call> calls;
    const auto call = [&](const std::shared_ptr<Folder>& called) {
        if (steps.test(100, [&] { return skipsSubfolders(required(called)->Name()); }))
            return;
        const auto last = steps.count(102, [&] { return required(called)->Folders()->count(); });
        if (last && *last >= 1)
            calls.push_back({called, *last});
    };
    call(folder);
    while (!calls.empty()) {
        const std::shared_ptr<Folder> current = calls.back().folder;
        const std::int64_t i = calls.back().counter;
        if (!calls.back().below) {
            calls.back().below = true;
            steps.run(104, [] { yieldToWindowSystem(); });
            std::shared_ptr<Folder> subfolder;
            if (steps.run(106, [&] { subfolder = current->Folders()->Item(i); }))
                call(subfolder);
            continue;
        }
        saveItems(form, steps, current, i);
        Call& back = calls.back();
        back.below = false;
        if (!steps.run(154, [&] { ++back.counter; }) || back.counter > back.last)
            calls.pop_back();
    }
}

} // namespace parcelon
