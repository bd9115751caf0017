#pragma once

#include "mailhost/pst/bytes/SpanReader.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace parcelon::smime {

// A CMS ContentInfo as far as the attachments need it; no signature is
// checked and no key is used.
struct Cms {
    enum class Kind {
        Signed,     // SignedData with its content inside (opaque-signed)
        Compressed, // CompressedData, inflated
        Encrypted,  // EnvelopedData or AuthEnvelopedData
        Other,      // any other type, or SignedData without content
    };
    Kind kind = Kind::Other;
    std::vector<std::uint8_t> content; // of Signed and Compressed
};

// Reads `bytes` as a ContentInfo in DER (BER) or in base64 of it. Nothing
// when they are neither, or when the content would be larger than `limit`.
std::optional<Cms> readCms(pst::Bytes bytes, std::uint64_t limit);

} // namespace parcelon::smime
