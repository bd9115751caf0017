#include "testsupport/SignedMail.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace parcelon::test {

using namespace Qt::StringLiterals;

namespace {

QByteArray bytesOf(int size, std::uint32_t seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    return bytes;
}

// Base64 in lines of 76 characters.
QByteArray base64Lines(const QByteArray& bytes)
{
    const QByteArray text = bytes.toBase64();
    QByteArray lines;
    for (qsizetype i = 0; i < text.size(); i += 76)
        lines += text.mid(i, 76) + "\r\n";
    return lines;
}

QByteArray uuencode(const QByteArray& bytes, const QByteArray& name)
{
    const auto character = [](int v) { return v == 0 ? '`' : static_cast<char>(v + 32); };
    QByteArray text = "begin 644 " + name + "\r\n";
    for (qsizetype line = 0; line < bytes.size(); line += 45) {
        const QByteArray chunk = bytes.mid(line, 45);
        text += character(static_cast<int>(chunk.size()));
        for (qsizetype i = 0; i < chunk.size(); i += 3) {
            const auto b = [&](qsizetype k) { return k < chunk.size() ? static_cast<std::uint8_t>(chunk[k]) : 0; };
            const std::uint32_t group = (b(i) << 16) | (b(i + 1) << 8) | b(i + 2);
            for (int shift = 18; shift >= 0; shift -= 6)
                text += character(static_cast<int>((group >> shift) & 0x3F));
        }
        text += "\r\n";
    }
    return text + "`\r\nend\r\n";
}

const QByteArray kImage = bytesOf(3000, 1);
const QByteArray kReport = bytesOf(5000, 2);
const QByteArray kNameless = bytesOf(1000, 3);
const QByteArray kArchive = bytesOf(500, 4);
const QByteArray kInner = "Subject: =?UTF-8?Q?Fwd:_plan/draft?=\r\n"
                          "From: ann@example.com\r\n"
                          "Content-Type: text/plain; charset=utf-8\r\n"
                          "\r\n"
                          "The plan is attached in spirit.\r\n";

} // namespace

QByteArray knownMessage()
{
    QByteArray m;
    m += "Subject: Quarterly figures\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"outer-1\"\r\n"
         "\r\n"
         "This is a message in MIME format.\r\n"
         "--outer-1\r\n"
         "Content-Type: multipart/related; boundary=\"related-1\"\r\n"
         "\r\n"
         "--related-1\r\n"
         "Content-Type: text/html; charset=utf-8\r\n"
         "\r\n"
         "<html><body><p>Figures:</p><img src=\"cid:image001\"></body></html>\r\n"
         "--related-1\r\n"
         "Content-Type: image/png; name=\"image001.png\"\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "Content-ID: <image001>\r\n"
         "Content-Disposition: inline; filename=\"image001.png\"\r\n"
         "\r\n";
    m += base64Lines(kImage);
    m += "--related-1--\r\n"
         "\r\n"
         "--outer-1\r\n"
         "Content-Type: application/pdf; name=\"=?UTF-8?B?w5xiZXJzaWNodCBNw6Ryei5wZGY=?=\"\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "\r\n";
    m += base64Lines(kReport);
    m += "--outer-1\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n"
         "Content-Disposition: attachment;\r\n"
         " filename*0*=UTF-8''%E6%97%A5%E6%9C%AC%E8%AA%9E;\r\n"
         " filename*1*=%20Bericht.txt\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n"
         "\r\n"
         "caf=C3=A9 =3D 100%\r\n"
         "--outer-1\r\n"
         "Content-Type: application/octet-stream\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "\r\n";
    m += base64Lines(kNameless);
    m += "--outer-1\r\n"
         "Content-Type: message/rfc822\r\n"
         "Content-Disposition: attachment\r\n"
         "\r\n";
    m += kInner;
    m += "--outer-1\r\n"
         "Content-Type: text/plain; charset=us-ascii\r\n"
         "Content-Disposition: attachment\r\n"
         "\r\n"
         "a text file without a name\r\n"
         "--outer-1\r\n"
         "Content-Type: application/zip; name=\"old.zip\"\r\n"
         "Content-Transfer-Encoding: x-uuencode\r\n"
         "\r\n";
    m += uuencode(kArchive, "old.zip");
    m += "--outer-1\r\n"
         "Content-Type: text/plain; name=\"notes.txt\"\r\n"
         "\r\n"
         "line one\r\n"
         "line two\r\n"
         "--outer-1--\r\n";
    return m;
}

std::vector<ExpectedFile> knownFiles()
{
    return {
        {u"image001.png"_s, kImage},
        {u"Übersicht März.pdf"_s, kReport},
        {u"日本語 Bericht.txt"_s, QByteArray("caf\xC3\xA9 = 100%")},
        {u"Untitled Attachment"_s, kNameless},
        {u"Fwd: plan_draft.eml"_s, kInner.chopped(2)}, // the last line break belongs to the boundary
        {u"Untitled Attachment"_s, QByteArray("a text file without a name")},
        {u"old.zip"_s, kArchive},
        {u"notes.txt"_s, QByteArray("line one\r\nline two")},
    };
}

QByteArray textOnlyMessage()
{
    return "Subject: Only words\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n"
           "\r\n"
           "Nothing is attached to this message.\r\n";
}

Openssl* Openssl::instance()
{
    static Openssl* openssl = [] {
        auto* made = new Openssl;
        if (!made->m_ready) {
            delete made;
            return static_cast<Openssl*>(nullptr);
        }
        return made;
    }();
    return openssl;
}

Openssl::Openssl()
{
    if (QStandardPaths::findExecutable(u"openssl"_s).isEmpty() || !m_dir.isValid())
        return;
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(u"openssl"_s,
                  {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-keyout"_s, u"key.pem"_s, u"-out"_s,
                   u"cert.pem"_s, u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=Parcelon Test Signer"_s});
    m_ready = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QByteArray Openssl::run(const QStringList& arguments, const QByteArray& input)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(u"openssl"_s, arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool done = process.waitForFinished(60000);
    const QByteArray output = process.readAllStandardOutput();
    EXPECT_TRUE(done && process.exitCode() == 0)
        << "openssl " << arguments.join(u' ').toStdString() << ": " << process.readAllStandardError().toStdString();
    keep(output);
    return output;
}

void Openssl::keep(const QByteArray& wrapper)
{
    const QString seeds = qEnvironmentVariable("PARCELON_SMIME_SEEDS");
    if (seeds.isEmpty() || wrapper.isEmpty())
        return;
    QDir().mkpath(seeds);
    QFile file(u"%1/wrapper-%2-%3"_s.arg(seeds).arg(QCoreApplication::applicationPid()).arg(++m_kept));
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        file.write(wrapper);
}

QByteArray Openssl::clearSign(const QByteArray& mime)
{
    return run({u"smime"_s, u"-sign"_s, u"-signer"_s, u"cert.pem"_s, u"-inkey"_s, u"key.pem"_s}, mime);
}

QByteArray Openssl::opaqueSignDer(const QByteArray& mime)
{
    return run({u"smime"_s, u"-sign"_s, u"-nodetach"_s, u"-outform"_s, u"DER"_s, u"-signer"_s, u"cert.pem"_s, u"-inkey"_s,
                u"key.pem"_s},
               mime);
}

QByteArray Openssl::opaqueSignMime(const QByteArray& mime)
{
    return run({u"smime"_s, u"-sign"_s, u"-nodetach"_s, u"-signer"_s, u"cert.pem"_s, u"-inkey"_s, u"key.pem"_s}, mime);
}

QByteArray Openssl::encryptDer(const QByteArray& mime)
{
    return run({u"smime"_s, u"-encrypt"_s, u"-outform"_s, u"DER"_s, u"-aes256"_s, u"cert.pem"_s}, mime);
}

QByteArray Openssl::encryptMime(const QByteArray& mime)
{
    return run({u"smime"_s, u"-encrypt"_s, u"-aes256"_s, u"cert.pem"_s}, mime);
}

QByteArray base64Body(const QByteArray& entity)
{
    qsizetype at = entity.indexOf("\r\n\r\n");
    qsizetype skip = 4;
    if (const qsizetype lf = entity.indexOf("\n\n"); at < 0 || (lf >= 0 && lf < at)) {
        at = lf;
        skip = 2;
    }
    return at < 0 ? QByteArray() : QByteArray::fromBase64(entity.mid(at + skip));
}

pstgen::Item clearSignedItem(const QString& subject, const QByteArray& wrapper)
{
    pstgen::Item item;
    item.messageClass = u"IPM.Note.SMIME.MultipartSigned"_s;
    item.subject = subject;
    item.body = u"(signed)"_s;
    pstgen::Attachment attachment;
    attachment.fileName = std::nullopt;
    attachment.displayName = std::nullopt;
    attachment.mimeType = u"multipart/signed"_s;
    attachment.hidden = true;
    attachment.content = pstgen::Content::fromBytes(wrapper);
    item.attachments.push_back(std::move(attachment));
    return item;
}

pstgen::Item opaqueItem(const QString& subject, const QByteArray& wrapper)
{
    pstgen::Item item;
    item.messageClass = u"IPM.Note.SMIME"_s;
    item.subject = subject;
    pstgen::Attachment attachment;
    attachment.fileName = u"smime.p7m"_s;
    attachment.mimeType = u"application/pkcs7-mime"_s;
    attachment.hidden = true;
    attachment.content = pstgen::Content::fromBytes(wrapper);
    item.attachments.push_back(std::move(attachment));
    return item;
}

} // namespace parcelon::test
