#include "testsupport/SourcesTestSupport.h"

#include "diagnostics/ApplicationTitle.h"
#include "sources/SourceList.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

const QString kPrompt =
    u"Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc files, etc.)"_s;

} // namespace

using AddAllInFolder = SourcesTest;

TEST_F(AddAllInFolder, AddsFolderByFolderBreadthFirstShowingBusyMeanwhile)
{
    for (const QString& file : {u"A/a.pst"_s, u"A/B/b.pst"_s, u"A/B/D/d.pst"_s, u"A/C/c.pst"_s})
        tree.file(file);
    tree.folder(u"A/E"_s);
    const QString a = tree.path(u"A"_s);
    Form1& form = startForm();
    addSource(form, u"/kept/first.pst"_s);

    // While the tree is expanded the window is busy, and Clear List is refused.
    bool busyMeanwhile = false;
    QTimer::singleShot(0, &form, [&] {
        busyMeanwhile = form.isBusy();
        form.PushButton3->click();
    });
    addAllInFolder(u"pst"_s, a);
    EXPECT_TRUE(busyMeanwhile);
    EXPECT_EQ(form.mousePointer(), MousePointer::Default);
    EXPECT_EQ(listed(form),
              (QStringList{u"/kept/first.pst"_s, a + u"/a.pst"_s, a + u"/B/b.pst"_s, a + u"/C/c.pst"_s, a + u"/B/D/d.pst"_s}));

    const Interaction& prompt = desktop.shown().front();
    EXPECT_EQ(prompt.kind, Shown::Prompt);
    EXPECT_EQ(prompt.caption, applicationTitle());
    EXPECT_EQ(prompt.caption, u"Parcelon"_s);
    EXPECT_EQ(prompt.text, kPrompt);
    EXPECT_EQ(prompt.defaultText, u"pst"_s);
    EXPECT_EQ(desktop.shown().at(1).text, u"Please select folder:"_s);
    EXPECT_EQ(storedOnDisk(SettingsKey::Extension), u"pst"_s);
    EXPECT_EQ(storedOnDisk(SettingsKey::LastFolder), a);

    // A second run over the same folder lists everything again.
    addAllInFolder(u"pst"_s, a);
    EXPECT_EQ(listed(form).size(), 9);
    EXPECT_EQ(listed(form).mid(5), listed(form).mid(1, 4));
    EXPECT_TRUE(desktop.errorReports().isEmpty());
}

TEST_F(AddAllInFolder, ExtensionMatchesAnyCaseStarTakesAllAndTildeAndHiddenFilesStayOut)
{
    for (const QString& file : {u"T/x.PST"_s, u"T/y.pst"_s, u"T/~lock.pst"_s, u"T/a~b.pst"_s, u"T/.hidden.pst"_s,
                                u"T/notes.txt"_s, u"T/README"_s, u"T/.sub/s.pst"_s, u"T/.sub/~s.txt"_s})
        tree.file(file);
    // A hidden link to a file is no plain hidden file; a link back to the tree is not scanned again.
    tree.link(u"T/.linked.pst"_s, tree.path(u"T/y.pst"_s));
    tree.link(u"T/loop"_s, tree.path(u"T"_s));
    const QString t = tree.path(u"T"_s);
    Form1& form = startForm();

    const QStringList pst{t + u"/.linked.pst"_s, t + u"/a~b.pst"_s, t + u"/x.PST"_s, t + u"/y.pst"_s, t + u"/.sub/s.pst"_s};
    for (const QString& answer : {u"pst"_s, u"PST"_s}) {
        form.ListView1->clear();
        addAllInFolder(answer, t);
        EXPECT_EQ(listed(form), pst) << answer;
    }
    form.ListView1->clear();
    addAllInFolder(u"*"_s, t);
    EXPECT_EQ(listed(form),
              (QStringList{t + u"/.linked.pst"_s, t + u"/a~b.pst"_s, t + u"/notes.txt"_s, t + u"/README"_s, t + u"/x.PST"_s,
                           t + u"/y.pst"_s, t + u"/.sub/s.pst"_s}));
    form.ListView1->clear();
    addAllInFolder(u"txt"_s, t);
    EXPECT_EQ(listed(form), QStringList{t + u"/notes.txt"_s});
    form.ListView1->clear();
    addAllInFolder(u"doc"_s, t);
    EXPECT_TRUE(listed(form).isEmpty());
    EXPECT_TRUE(desktop.errorReports().isEmpty());
}

TEST_F(AddAllInFolder, PromptOffersTheLastExtensionAndThePickerTheLastFolder)
{
    tree.file(u"A/a.txt"_s);
    const QString a = tree.path(u"A"_s);
    Form1& form = startForm();
    const auto lastShownOf = [&](Shown kind) {
        const auto& shown = desktop.shown();
        auto found = std::find_if(shown.rbegin(), shown.rend(), [kind](const Interaction& i) { return i.kind == kind; });
        return found == shown.rend() ? Interaction{kind} : *found;
    };

    // A cancelled folder keeps the extension just typed.
    addAllInFolder(u"txt"_s, QString());
    EXPECT_EQ(lastShownOf(Shown::Folder).defaultText, homeFolder);
    EXPECT_EQ(storedOnDisk(SettingsKey::Extension), u"txt"_s);
    EXPECT_EQ(storedOnDisk(SettingsKey::LastFolder), std::nullopt);
    // A cancelled prompt stores nothing and asks for no folder.
    addAllInFolder(QString());
    EXPECT_EQ(lastShownOf(Shown::Prompt).defaultText, u"txt"_s);
    EXPECT_EQ(storedOnDisk(SettingsKey::Extension), u"txt"_s);
    EXPECT_EQ(desktop.texts(Shown::Folder).size(), 1);

    addAllInFolder(u"txt"_s, a);
    EXPECT_EQ(listed(form), QStringList{a + u"/a.txt"_s});
    // The next start asks with what this one stored.
    Form1& next = startForm();
    addAllInFolder(QString());
    EXPECT_EQ(lastShownOf(Shown::Prompt).defaultText, u"txt"_s);
    addAllInFolder(u"pst"_s, QString());
    EXPECT_EQ(lastShownOf(Shown::Folder).defaultText, a);
    EXPECT_TRUE(listed(next).isEmpty());
    EXPECT_TRUE(desktop.messages().isEmpty());
}

TEST_F(AddAllInFolder, LinksToFilesAreAddedLinksToFoldersNotFollowed)
{
    for (const QString& file : {u"T/a.pst"_s, u"T/sub/s.pst"_s, u"other/o.pst"_s})
        tree.file(file);
    tree.link(u"T/file-link.pst"_s, u"../other/o.pst"_s);
    tree.link(u"T/folder-link"_s, u"../other"_s);
    tree.link(u"chosen"_s, u"T"_s);
    Form1& form = startForm();
    const QString t = tree.path(u"T"_s);
    addAllInFolder(u"pst"_s, t);
    EXPECT_EQ(listed(form), (QStringList{t + u"/a.pst"_s, t + u"/file-link.pst"_s, t + u"/sub/s.pst"_s}));

    // A folder chosen through a link keeps the path as chosen.
    form.ListView1->clear();
    const QString chosen = tree.path(u"chosen"_s);
    addAllInFolder(u"pst"_s, chosen);
    EXPECT_EQ(listed(form), (QStringList{chosen + u"/a.pst"_s, chosen + u"/file-link.pst"_s, chosen + u"/sub/s.pst"_s}));
    form.ListView1->clear();
    EXPECT_TRUE(drop(*draggedFiles({chosen})));
    EXPECT_EQ(listed(form).size(), 3);
    EXPECT_TRUE(desktop.errorReports().isEmpty());
}
