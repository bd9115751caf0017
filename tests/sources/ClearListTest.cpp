#include "testsupport/SourcesTestSupport.h"

#include "sources/SourceList.h"
#include "window/ProgressBar.h"

#include <QLineEdit>
#include <QPushButton>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

using ClearList = SourcesTest;

TEST_F(ClearList, EmptiesTheListUnlessBusyAndLeavesEverythingElse)
{
    Form1& form = startForm();
    form.PushButton3->click();
    EXPECT_TRUE(listed(form).isEmpty());

    for (const QString& path : {u"/a.pst"_s, u"/b.pst"_s, u"/a.pst"_s})
        addSource(form, path);
    form.ProgressBar1->setValue(40);
    form.ProgressBar1->setText(u"Processing: a.pst"_s);
    const QString folder = form.Text1->text();

    form.setMousePointer(MousePointer::Busy);
    form.PushButton3->click();
    EXPECT_EQ(listed(form).size(), 3);

    form.setMousePointer(MousePointer::Default);
    form.PushButton3->click();
    EXPECT_TRUE(listed(form).isEmpty());
    EXPECT_EQ(form.ProgressBar1->value(), 40);
    EXPECT_EQ(form.ProgressBar1->text(), u"Processing: a.pst"_s);
    EXPECT_EQ(form.Text1->text(), folder);
    EXPECT_EQ(storedOnDisk(SettingsKey::Text1), folder);
    EXPECT_TRUE(desktop.shown().empty());

    // Items added afterwards start a new list.
    addSource(form, u"/c.pst"_s);
    EXPECT_EQ(listed(form), QStringList{u"/c.pst"_s});
}
