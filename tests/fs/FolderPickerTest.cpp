#include "testsupport/TemporaryTree.h"

#include "fs/FolderPicker.h"
#include "testsupport/ScriptedDesktop.h"

#include <gtest/gtest.h>

using namespace parcelon;
using namespace Qt::StringLiterals;
using parcelon::test::ScriptedDesktop;
using parcelon::test::Shown;
using parcelon::test::TemporaryTree;

TEST(FolderPicker, OpensAtTheInitialFolderOrAtHome)
{
    TemporaryTree tree;
    const QString home = tree.folder(u"home"_s);
    const QString mail = tree.folder(u"mail"_s);
    ScriptedDesktop desktop;
    desktop.answerFolder(tree.path(u"mail"_s));
    desktop.answerFolder(mail);
    desktop.answerFolder(u"/"_s);
    desktop.answerFolder(QString());
    EXPECT_EQ(BrowseForFolder(desktop, u"Please select folder:"_s, mail, home), tree.path(u"mail"_s));
    EXPECT_EQ(BrowseForFolder(desktop, u"Please select folder:"_s, QString(), home), tree.path(u"mail"_s));
    EXPECT_EQ(BrowseForFolder(desktop, u"Pick"_s, tree.path(u"gone"_s), home), u"/"_s);
    EXPECT_EQ(BrowseForFolder(desktop, u"Pick"_s, mail + u"a.pst"_s, home), QString()); // cancelled

    const auto& shown = desktop.shown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].kind, Shown::Folder);
    EXPECT_EQ(shown[0].text, u"Please select folder:"_s);
    EXPECT_EQ(shown[0].defaultText, mail);
    for (std::size_t i = 1; i < shown.size(); ++i)
        EXPECT_EQ(shown[i].defaultText, home) << i;
}
