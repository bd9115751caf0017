#include "mailhost/smime/Cms.h"

#include <QByteArray>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <zlib.h>

#include <limits>
#include <memory>

namespace parcelon::smime {

namespace {

struct CmsFree {
    void operator()(CMS_ContentInfo* cms) const { CMS_ContentInfo_free(cms); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

// The DER of base64 text (whitespace and PEM armour lines allowed).
std::optional<QByteArray> fromBase64(pst::Bytes bytes)
{
    QByteArray text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    bool lineStart = true;
    bool armour = false;
    for (std::uint8_t c : bytes) {
        if (lineStart && c == '-')
            armour = true;
        lineStart = c == '\n';
        if (armour) {
            armour = c != '\n';
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        text.append(static_cast<char>(c));
    }
    auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok || decoded.decoded.isEmpty()
        || static_cast<std::uint8_t>(decoded.decoded.front()) != 0x30)
        return std::nullopt;
    return std::move(decoded.decoded);
}

std::optional<std::vector<std::uint8_t>> inflate(const ASN1_OCTET_STRING& compressed, std::uint64_t limit)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return std::nullopt;
    std::vector<std::uint8_t> out;
    z.next_in = const_cast<Bytef*>(ASN1_STRING_get0_data(&compressed));
    z.avail_in = static_cast<uInt>(ASN1_STRING_length(&compressed));
    bool complete = false;
    while (out.size() < limit) {
        const std::size_t done = out.size();
        const auto grow = static_cast<std::size_t>(std::min<std::uint64_t>(limit - done, 1 << 20));
        out.resize(done + grow);
        z.next_out = out.data() + done;
        z.avail_out = static_cast<uInt>(grow);
        const int status = ::inflate(&z, Z_NO_FLUSH);
        out.resize(done + grow - z.avail_out);
        if (status == Z_STREAM_END) {
            complete = true;
            break;
        }
        if ((status != Z_OK && status != Z_BUF_ERROR) || (z.avail_in == 0 && z.avail_out != 0))
            break;
    }
    inflateEnd(&z);
    if (!complete)
        return std::nullopt;
    return out;
}

} // namespace

std::optional<Cms> readCms(pst::Bytes bytes, std::uint64_t limit)
{
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return std::nullopt;
    QByteArray decoded;
    if (bytes.front() != 0x30) {
        auto der = fromBase64(bytes);
        if (!der)
            return std::nullopt;
        decoded = std::move(*der);
        bytes = pst::Bytes(reinterpret_cast<const std::uint8_t*>(decoded.constData()), static_cast<std::size_t>(decoded.size()));
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    if (!bio)
        return std::nullopt;
    std::unique_ptr<CMS_ContentInfo, CmsFree> cms(d2i_CMS_bio(bio.get(), nullptr));
    ERR_clear_error();
    if (!cms)
        return std::nullopt;
    Cms result;
    ASN1_OCTET_STRING** content = nullptr;
    switch (OBJ_obj2nid(CMS_get0_type(cms.get()))) {
    case NID_pkcs7_signed:
        content = CMS_get0_content(cms.get());
        if (!content || !*content)
            return result;
        if (static_cast<std::uint64_t>(ASN1_STRING_length(*content)) > limit)
            return std::nullopt;
        result.kind = Cms::Kind::Signed;
        result.content.assign(ASN1_STRING_get0_data(*content), ASN1_STRING_get0_data(*content) + ASN1_STRING_length(*content));
        return result;
    case NID_id_smime_ct_compressedData:
        content = CMS_get0_content(cms.get());
        if (!content || !*content)
            return result;
        if (auto inflated = inflate(**content, limit)) {
            result.kind = Cms::Kind::Compressed;
            result.content = std::move(*inflated);
            return result;
        }
        return std::nullopt;
    case NID_pkcs7_enveloped:
    case NID_id_smime_ct_authEnvelopedData:
        result.kind = Cms::Kind::Encrypted;
        return result;
    default:
        return result;
    }
}

} // namespace parcelon::smime
