#include "testsupport/SourcesTestSupport.h"

#include "sources/DropIntake.h"

#include <QTreeWidget>
#include <QUrl>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

using DropIntake = SourcesTest;

TEST_F(DropIntake, DragsWithoutALocalFileAreRefusedAndDropNothing)
{
    Form1& form = startForm();
    QMimeData text;
    text.setText(u"/home/user/mail.pst"_s);
    QMimeData remote;
    remote.setUrls({QUrl(u"https://example.org/mail.pst"_s)});
    QMimeData nothing;
    for (const QMimeData* data : {&text, &remote, &nothing}) {
        EXPECT_FALSE(dragOver(*data));
        EXPECT_FALSE(drop(*data));
    }
    EXPECT_TRUE(listed(form).isEmpty());

    // A local file among others is enough; only the local ones count.
    QMimeData mixed;
    mixed.setUrls({QUrl(u"https://example.org/a.pst"_s), QUrl::fromLocalFile(u"/data/b.pst"_s)});
    EXPECT_TRUE(dragOver(mixed));
    EXPECT_EQ(droppedPaths(mixed), QStringList{u"/data/b.pst"_s});
    EXPECT_TRUE(drop(mixed));
    EXPECT_EQ(listed(form), QStringList{u"/data/b.pst"_s});
}

TEST_F(DropIntake, DroppedFilesAreAddedAsDroppedAndFoldersHarvestedWithAllFiles)
{
    for (const QString& file :
         {u"F/a.pst"_s, u"F/b.TXT"_s, u"F/~c.pst"_s, u"F/.d.pst"_s, u"F/sub/e"_s, u"G/g.pst"_s, u"loose/~report.doc"_s})
        tree.file(file);
    Form1& form = startForm();
    const QString f = tree.path(u"F"_s);
    const QString g = tree.path(u"G"_s);
    const QString loose = tree.path(u"loose/~report.doc"_s);
    const QString missing = tree.path(u"gone/missing.pst"_s);

    EXPECT_TRUE(drop(*draggedFiles({loose, f, missing, g})));
    // A file, even a missing one or one beginning with "~", goes in unchanged;
    // a folder's files follow the folder scan's rules, in the dropped order.
    EXPECT_EQ(listed(form), (QStringList{loose, f + u"/a.pst"_s, f + u"/b.TXT"_s, f + u"/sub/e"_s, missing, g + u"/g.pst"_s}));

    // The same drop again lists everything again.
    form.ListView1->clear();
    EXPECT_TRUE(drop(*draggedFiles({g})));
    EXPECT_TRUE(drop(*draggedFiles({g})));
    EXPECT_EQ(listed(form), (QStringList{g + u"/g.pst"_s, g + u"/g.pst"_s}));
    EXPECT_EQ(form.mousePointer(), MousePointer::Default);
    EXPECT_TRUE(desktop.shown().empty());
}

TEST_F(DropIntake, DropsAreCopiesNeverMoves)
{
    tree.file(u"M/m.pst"_s);
    Form1& form = startForm();
    const QString m = tree.path(u"M/m.pst"_s);
    const auto data = draggedFiles({m});
    // With Shift held the source proposes a move; the list takes a copy.
    EXPECT_TRUE(dragOver(*data, Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier));
    EXPECT_TRUE(drop(*data, Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier));
    EXPECT_EQ(listed(form), QStringList{m});
    // A source that offers no copy cannot drop here.
    for (Qt::DropActions actions : {Qt::DropActions(Qt::MoveAction), Qt::DropActions(Qt::LinkAction)}) {
        EXPECT_FALSE(dragOver(*data, actions));
        EXPECT_FALSE(drop(*data, actions));
    }
    EXPECT_EQ(listed(form), QStringList{m});
}

TEST_F(DropIntake, FolderDroppedWithATrailingSeparatorGivesCleanPaths)
{
    tree.file(u"H/inner/h.pst"_s);
    Form1& form = startForm();
    const QString h = tree.path(u"H"_s);
    addDroppedPaths(form, {h + u'/'});
    EXPECT_EQ(listed(form), QStringList{h + u"/inner/h.pst"_s});
}
