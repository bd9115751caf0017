#pragma once

#include "pstgen/Description.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <vector>

// Signed and encrypted mail for tests: MIME messages of known content,
// signed and encrypted with the openssl command under a key made for the
// test run, and the items that hold them in a PST file.
namespace parcelon::test {

struct ExpectedFile {
    QString name;
    QByteArray bytes;
};

// A MIME message whose attachments are known: an HTML body with an inline
// image, names in RFC 2047 and RFC 2231 (continued) form in other scripts,
// a part without a name, an attached message, a text part marked as an
// attachment, a uuencoded part, a named text part; base64, quoted-printable
// and 7bit content.
QByteArray knownMessage();
// The files knownMessage() carries, in order.
std::vector<ExpectedFile> knownFiles();
// A MIME message of text only.
QByteArray textOnlyMessage();

// Signs and encrypts with the openssl command, under a key and certificate
// made once per test run. Each wrapper made is also written into the folder
// $PARCELON_SMIME_SEEDS when that is set (seeds for the fuzzer).
class Openssl {
public:
    // The one instance; nullptr when the openssl command is not there.
    static Openssl* instance();

    QByteArray clearSign(const QByteArray& mime);      // multipart/signed
    QByteArray opaqueSignDer(const QByteArray& mime);  // CMS SignedData, DER
    QByteArray opaqueSignMime(const QByteArray& mime); // application/pkcs7-mime entity
    QByteArray encryptDer(const QByteArray& mime);     // CMS EnvelopedData, DER
    QByteArray encryptMime(const QByteArray& mime);    // application/pkcs7-mime entity

private:
    Openssl();
    QByteArray run(const QStringList& arguments, const QByteArray& input);
    void keep(const QByteArray& wrapper);

    QTemporaryDir m_dir;
    bool m_ready = false;
    int m_kept = 0;
};

// The body (after the first empty line) of a MIME entity, base64-decoded.
QByteArray base64Body(const QByteArray& entity);

// An item that stores a wrapper the way signed mail is stored: one hidden
// attachment by value whose data is `wrapper`.
pstgen::Item clearSignedItem(const QString& subject, const QByteArray& wrapper);
pstgen::Item opaqueItem(const QString& subject, const QByteArray& wrapper);

} // namespace parcelon::test
