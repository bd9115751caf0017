// Signed mail: the files inside clear-signed, opaque-signed and doubly
// signed messages; encrypted mail and everything that is no signed message
// as stored; the limits. The messages are signed and encrypted by the
// openssl command and stored in PST files written by pstgen.

#include "testsupport/SignedMail.h"

#include "Mailboxes.h"
#include "diagnostics/Failure.h"
#include "mailhost/model/Registry.h"
#include "mailhost/smime/SignedMessage.h"
#include "pstgen/PstWriter.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parcelon;
using namespace parcelon::mailhost;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

struct Presented {
    QString name;
    QByteArray bytes;
    QString wrapper;

    bool operator==(const Presented&) const = default;
};

void PrintTo(const Presented& p, std::ostream* os)
{
    *os << p.name.toStdString() << " (" << p.bytes.size() << " bytes" << (p.wrapper.isEmpty() ? "" : ", signed") << ")";
}

std::vector<Presented> signedFiles(const std::vector<ExpectedFile>& files)
{
    std::vector<Presented> result;
    for (const ExpectedFile& f : files)
        result.push_back({f.name, f.bytes, u"signed"_s});
    return result;
}

class SignedMail : public ::testing::Test {
protected:
    void SetUp() override
    {
        openssl = Openssl::instance();
        if (!openssl)
            GTEST_SKIP() << "the openssl command is not there";
    }

    // Writes the items into Inbox of a new PST file and mounts it.
    void mount(std::vector<pstgen::Item> items)
    {
        pstgen::Description description;
        description.root.folders.push_back(pstgen::fixtures::folder(u"Inbox"_s, std::move(items)));
        const QString path = m_dir.filePath(u"signed.pst"_s);
        QFile::remove(path);
        auto written = pstgen::PstWriter::write(description, path);
        ASSERT_TRUE(written.ok()) << written.error().message().toStdString();
        m_mapi = Registry::global().CreateObject(kApplicationProgId)->GetNamespace(u"MAPI"_s);
        m_mapi->AddStore(path);
        auto root = m_mapi->Folders()->GetLast();
        auto folders = root->Folders();
        for (std::int64_t i = 1; i <= folders->count(); ++i)
            if (folders->Item(i)->Name() == u"Inbox"_s)
                m_items = folders->Item(i)->Items();
        ASSERT_TRUE(m_items);
    }

    // What item `position` presents: each attachment's name, the bytes
    // SaveAsFile writes, and where it came from.
    std::vector<Presented> presented(std::int64_t position)
    {
        std::vector<Presented> result;
        auto attachments = m_items->Item(position)->Attachments();
        for (std::int64_t k = 1; k <= attachments->count(); ++k) {
            auto attachment = attachments->Item(k);
            const QString target = m_dir.filePath(u"saved-%1-%2"_s.arg(position).arg(k));
            QFile::remove(target);
            attachment->SaveAsFile(target);
            result.push_back({attachment->fileName(), readFile(target), attachment->wrapper()});
        }
        return result;
    }

    Openssl* openssl = nullptr;
    QTemporaryDir m_dir;
    std::shared_ptr<Namespace> m_mapi;
    std::shared_ptr<ItemCollection> m_items;
};

} // namespace

TEST_F(SignedMail, EveryFileInsideComesOutUnderItsOwnNameInMimeOrder)
{
    const QByteArray message = knownMessage();
    const QByteArray opaque = openssl->opaqueSignDer(message);
    mount({clearSignedItem(u"clear"_s, openssl->clearSign(message)), opaqueItem(u"opaque DER"_s, opaque),
           opaqueItem(u"opaque base64"_s, opaque.toBase64()),
           opaqueItem(u"opaque PEM"_s, "-----BEGIN PKCS7-----\n" + opaque.toBase64() + "\n-----END PKCS7-----\n")});
    const std::vector<Presented> expected = signedFiles(knownFiles());
    for (std::int64_t position = 1; position <= 4; ++position) {
        SCOPED_TRACE(position);
        EXPECT_EQ(presented(position), expected);
    }
    // Asked again (as the walk does), the same files answer.
    EXPECT_EQ(presented(4), expected);
}

TEST_F(SignedMail, SignedAgainIsOpenedAgainToAnyDepthWithinTheLimit)
{
    const QByteArray message = knownMessage();
    const QByteArray clear = openssl->clearSign(message);
    QByteArray deep = message;
    for (int i = 0; i < 14; ++i)
        deep = openssl->clearSign(deep);
    const QByteArray tooDeep = openssl->clearSign(deep);
    mount({clearSignedItem(u"clear in clear"_s, openssl->clearSign(clear)),
           opaqueItem(u"clear in opaque"_s, openssl->opaqueSignDer(clear)),
           clearSignedItem(u"opaque in clear"_s, openssl->clearSign(openssl->opaqueSignMime(message))),
           clearSignedItem(u"14 signatures around two multiparts"_s, deep),
           clearSignedItem(u"15 signatures around two multiparts"_s, tooDeep)});
    const std::vector<Presented> expected = signedFiles(knownFiles());
    for (std::int64_t position = 1; position <= 4; ++position) {
        SCOPED_TRACE(position);
        EXPECT_EQ(presented(position), expected);
    }
    // 16 levels of containers open, 17 give the wrapper as stored.
    EXPECT_EQ(presented(5), (std::vector<Presented>{{u"Untitled Attachment"_s, tooDeep, QString()}}));
}

TEST_F(SignedMail, EncryptedAndUnreadableWrappersAreTheStoredAttachment)
{
    const QByteArray message = knownMessage();
    const QByteArray encrypted = openssl->encryptDer(message);
    QByteArray damaged = openssl->opaqueSignDer(message);
    damaged.truncate(damaged.size() / 2);
    const QByteArray garbage = "MIME-Version: 1.0\r\nContent-Type: multipart/signed; boundary=\"x\"\r\n\r\nno parts\r\n";
    const QByteArray pdf = "%PDF-1.4 not a wrapper";
    pstgen::Item notAWrapper = opaqueItem(u"a plain file under the S/MIME class"_s, pdf);
    notAWrapper.attachments.front().fileName = u"scan.pdf"_s;
    pstgen::Item twoAttachments = opaqueItem(u"two attachments"_s, openssl->opaqueSignDer(message));
    twoAttachments.attachments.push_back(pstgen::fixtures::text(u"extra.txt"_s, "extra"));
    pstgen::Item plainClass = clearSignedItem(u"signed, but the class says plain mail"_s, openssl->clearSign(message));
    plainClass.messageClass = u"IPM.Note"_s;
    pstgen::Item customClass = clearSignedItem(u"custom class"_s, openssl->clearSign(message));
    customClass.messageClass = u"IPM.Note.Custom.SMIME"_s;
    mount({opaqueItem(u"encrypted"_s, encrypted), opaqueItem(u"damaged"_s, damaged), clearSignedItem(u"no parts"_s, garbage),
           std::move(notAWrapper), std::move(twoAttachments), std::move(plainClass), std::move(customClass)});

    EXPECT_EQ(presented(1), (std::vector<Presented>{{u"smime.p7m"_s, encrypted, QString()}}));
    EXPECT_EQ(presented(2), (std::vector<Presented>{{u"smime.p7m"_s, damaged, QString()}}));
    EXPECT_EQ(presented(3), (std::vector<Presented>{{u"Untitled Attachment"_s, garbage, QString()}}));
    EXPECT_EQ(presented(4), (std::vector<Presented>{{u"scan.pdf"_s, pdf, QString()}}));
    EXPECT_EQ(presented(5).size(), 2u);
    EXPECT_EQ(presented(6).size(), 1u);
    EXPECT_EQ(presented(6).front().wrapper, QString());
    // A class that ends in ".SMIME" is treated as S/MIME.
    EXPECT_EQ(presented(7), signedFiles(knownFiles()));
}

TEST_F(SignedMail, TextOnlyGivesNoFileAndAnEncryptedPartIsSavedAsStored)
{
    const QByteArray encryptedPart = openssl->encryptMime(knownMessage());
    mount({clearSignedItem(u"text only"_s, openssl->clearSign(textOnlyMessage())),
           clearSignedItem(u"encrypted, then signed"_s, openssl->clearSign(encryptedPart))});
    EXPECT_EQ(m_items->Item(1)->Attachments()->count(), 0);
    EXPECT_EQ(presented(2), (std::vector<Presented>{{u"smime.p7m"_s, base64Body(encryptedPart), u"signed"_s}}));
}

TEST_F(SignedMail, SavingNeverReplacesAFile)
{
    mount({clearSignedItem(u"clear"_s, openssl->clearSign(knownMessage()))});
    auto attachment = m_items->Item(1)->Attachments()->Item(2);
    const QString target = m_dir.filePath(u"taken.pdf"_s);
    writeFile(target, "already here");
    EXPECT_THROW(attachment->SaveAsFile(target), Failure);
    EXPECT_EQ(readFile(target), QByteArray("already here"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // the PST and the taken file
}

// --- The wrapper parser alone ---------------------------------------------------

namespace {

std::shared_ptr<const smime::SignedMessage> openBytes(const QByteArray& bytes, const smime::Limits& limits = {})
{
    return smime::SignedMessage::open(std::make_shared<pst::MemorySource>(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                                                                          u"wrapper"_s),
                                      limits);
}

QByteArray mixed(int parts, const QByteArray& header = {})
{
    QByteArray m = "Content-Type: multipart/mixed; boundary=b\r\n" + header + "\r\n";
    for (int i = 0; i < parts; ++i)
        m += "--b\r\nContent-Type: application/octet-stream; name=\"f" + QByteArray::number(i) + "\"\r\n\r\nx\r\n";
    return m + "--b--\r\n";
}

// DER: a tag, its length, its content.
QByteArray der(std::uint8_t tag, const QByteArray& content)
{
    QByteArray length;
    if (content.size() < 128) {
        length.append(static_cast<char>(content.size()));
    } else {
        for (auto n = static_cast<quint32>(content.size()); n; n >>= 8)
            length.prepend(static_cast<char>(n & 0xFF));
        length.prepend(static_cast<char>(0x80 | length.size()));
    }
    return static_cast<char>(tag) + length + content;
}

// A CMS CompressedData of `content` (zlib), as the openssl here cannot make one.
QByteArray compressedData(const QByteArray& content)
{
    const QByteArray compressedDataOid = QByteArray::fromHex("2a864886f70d0109100109");
    const QByteArray zlibOid = QByteArray::fromHex("2a864886f70d0109100308");
    const QByteArray dataOid = QByteArray::fromHex("2a864886f70d010701");
    const QByteArray zlib = qCompress(content).mid(4); // without Qt's length prefix
    const QByteArray encapsulated = der(0x30, der(0x06, dataOid) + der(0xA0, der(0x04, zlib)));
    const QByteArray compressed = der(0x30, der(0x02, QByteArray(1, '\0')) + der(0x30, der(0x06, zlibOid)) + encapsulated);
    return der(0x30, der(0x06, compressedDataOid) + der(0xA0, compressed));
}

} // namespace

TEST_F(SignedMail, CompressedContentIsOpenedLikeSignedContent)
{
    const auto message = openBytes(compressedData(knownMessage()));
    ASSERT_TRUE(message);
    std::vector<ExpectedFile> files;
    for (std::size_t i = 0; i < message->count(); ++i) {
        QByteArray bytes;
        ASSERT_TRUE(message->write(i, [&](pst::Bytes piece) -> pst::Result<void> {
            bytes.append(reinterpret_cast<const char*>(piece.data()), static_cast<qsizetype>(piece.size()));
            return {};
        }));
        files.push_back({message->fileName(i), bytes});
    }
    ASSERT_EQ(files.size(), knownFiles().size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(files[i].name, knownFiles()[i].name);
        EXPECT_EQ(files[i].bytes, knownFiles()[i].bytes);
    }
    // Past the memory limit once inflated, it is not opened.
    smime::Limits limits;
    limits.heldBytes = 1000;
    EXPECT_FALSE(openBytes(compressedData(knownMessage()), limits));
}

TEST_F(SignedMail, LimitsOfPartsHeadersAndNestingFallBack)
{
    smime::Limits limits;
    limits.parts = 50;
    limits.headerBytes = 4096;
    const auto within = openBytes(openssl->clearSign(mixed(40)), limits);
    ASSERT_TRUE(within);
    EXPECT_EQ(within->count(), 40u);
    EXPECT_FALSE(openBytes(openssl->clearSign(mixed(60)), limits));
    const QByteArray longHeader = "X-Long: " + QByteArray(5000, 'a') + "\r\n";
    EXPECT_FALSE(openBytes(openssl->clearSign(mixed(2, longHeader)), limits));
    EXPECT_TRUE(openBytes(openssl->clearSign(mixed(2, "X-Short: a\r\n")), limits));

    limits = {};
    limits.levels = 3;
    const QByteArray twice = openssl->clearSign(openssl->clearSign(mixed(1)));
    EXPECT_TRUE(openBytes(twice, limits));
    EXPECT_FALSE(openBytes(openssl->clearSign(twice), limits));
    limits.heldBytes = 100;
    EXPECT_FALSE(openBytes(openssl->opaqueSignDer(mixed(1)), limits));
}

TEST(SignedWrapper, HostileNestingHeadersAndPreamblesAreRefused)
{
    const QByteArray top = "Content-Type: multipart/signed; boundary=s\r\n\r\n--s\r\n";
    QByteArray deep = top;
    for (int i = 0; i < 300; ++i)
        deep +=
            "Content-Type: multipart/mixed; boundary=n" + QByteArray::number(i) + "\r\n\r\n--n" + QByteArray::number(i) + "\r\n";
    EXPECT_FALSE(openBytes(deep));

    const QByteArray part = "Content-Type: application/pdf; name=a.pdf\r\n\r\n%PDF\r\n--s\r\n"
                            "Content-Type: application/pkcs7-signature\r\n\r\nsig\r\n--s--\r\n";
    const auto plain = openBytes(top + part);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->count(), 1u);

    // Text the parser holds in memory: each is refused past the limit and
    // opens within it.
    smime::Limits tight;
    tight.headerBytes = 16 * 1024;
    const QByteArray big(48 * 1024, 'h');
    const QByteArray folded = "X-Folded: a\r\n" + QByteArray(big.size() / 4, ' ').replace(" ", " b\r\n");
    const QByteArray preamble = "Content-Type: multipart/signed; boundary=s\r\n\r\n" + big + "\r\n--s\r\n";
    const QByteArray attached = "Content-Type: message/rfc822\r\n\r\nSubject: x\r\nX-Long: " + big + "\r\n\r\nbody\r\n--s\r\n";
    for (const QByteArray& wrapper : {top + folded + part, preamble + part, top + attached + part}) {
        EXPECT_FALSE(openBytes(wrapper, tight));
        EXPECT_TRUE(openBytes(wrapper));
    }
}
