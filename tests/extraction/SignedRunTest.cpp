// A run through the window over signed and encrypted mail: the files inside
// signed messages land in the output folder under their own names, encrypted
// mail gives its stored smime.p7m, and a signed message of text gives nothing.

#include "mailhost/model/Registry.h"
#include "pstgen/PstWriter.h"
#include "sources/SourceList.h"
#include "testsupport/AppTestSupport.h"
#include "testsupport/SignedMail.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

class SignedRun : public WindowTest {};

} // namespace

TEST_F(SignedRun, SavesTheFilesInsideSignedMailAndTheStoredFormOfEncryptedMail)
{
    Openssl* openssl = Openssl::instance();
    if (!openssl)
        GTEST_SKIP() << "the openssl command is not there";
    QTemporaryDir work;
    const QByteArray message = knownMessage();
    const QByteArray encrypted = openssl->encryptDer(message);
    pstgen::Description description;
    pstgen::Folder inbox;
    inbox.name = u"Inbox"_s;
    inbox.items = {clearSignedItem(u"clear"_s, openssl->clearSign(message)),
                   opaqueItem(u"opaque"_s, openssl->opaqueSignDer(message)),
                   clearSignedItem(u"text only"_s, openssl->clearSign(textOnlyMessage())), opaqueItem(u"encrypted"_s, encrypted)};
    description.root.folders.push_back(inbox);
    const QString mail = work.filePath(u"signed.pst"_s);
    auto written = pstgen::PstWriter::write(description, mail);
    ASSERT_TRUE(written.ok()) << written.error().message().toStdString();
    const QString out = work.filePath(u"out"_s);
    QDir().mkpath(out);

    makeForm();
    form->setOptionSelected(form->Option1, true);
    form->Text1->setText(out + u'/');
    addSource(*form, mail);
    desktop.expectMessage();
    form->PushButton2->click();
    EXPECT_EQ(desktop.messages(), QStringList{u"Done."_s});

    // Each file twice (clear and opaque), numbered by the naming as any
    // other attachment; the encrypted message's wrapper once.
    const std::vector<ExpectedFile> files = knownFiles();
    const QStringList first{u"image001.png"_s,
                            u"Übersicht März.pdf"_s,
                            u"日本語 Bericht.txt"_s,
                            u"Untitled Attachment"_s,
                            u"Fwd: plan_draft.eml"_s,
                            u"Untitled Attachment1"_s,
                            u"old.zip"_s,
                            u"notes.txt"_s};
    const QStringList second{u"image0011.png"_s,
                             u"Übersicht März1.pdf"_s,
                             u"日本語 Bericht1.txt"_s,
                             u"Untitled Attachment2"_s,
                             u"Fwd: plan_draft1.eml"_s,
                             u"Untitled Attachment3"_s,
                             u"old1.zip"_s,
                             u"notes1.txt"_s};
    ASSERT_EQ(files.size(), 8u);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto at = static_cast<qsizetype>(i);
        EXPECT_EQ(readFile(out + u'/' + first[at]), files[i].bytes) << first[at].toStdString();
        EXPECT_EQ(readFile(out + u'/' + second[at]), files[i].bytes) << second[at].toStdString();
    }
    EXPECT_EQ(readFile(out + u"/smime.p7m"_s), encrypted);
    QStringList expected = first + second + QStringList{u"smime.p7m"_s};
    QStringList saved = QDir(out).entryList(QDir::Files | QDir::Hidden);
    expected.sort();
    saved.sort();
    EXPECT_EQ(saved, expected);
}
