#pragma once

#include "mailhost/pst/bytes/ByteSource.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace parcelon::smime {

// Whether a message class is one that S/MIME mail is stored under:
// IPM.Note.SMIME, IPM.Note.SMIME.MultipartSigned, or any class ending in
// ".SMIME" or ".SMIME.MultipartSigned", letter case aside.
bool isWrapperClass(const QString& messageClass);

// How far a wrapper is followed; past any of these it is not opened.
struct Limits {
    int levels = 16;                            // multiparts and signed layers, nested
    std::size_t parts = 10000;                  // MIME parts of one message
    std::uint64_t headerBytes = 1024 * 1024;    // one header block (also a preamble or epilogue)
    std::uint64_t heldBytes = 64 * 1024 * 1024; // a signed or compressed layer held in memory
};

// The signed message inside a wrapper attachment, and the files it carries:
// its MIME leaf parts in document order, less the signature and the text of
// the body. A clear-signed wrapper is read from its source as a stream and
// kept there; an opaque-signed one is held in memory. Signed content that is
// signed again is opened again.
class SignedMessage {
public:
    // Nothing when the bytes are no signed message (encrypted mail, anything
    // that does not parse) or when they break a limit.
    static std::shared_ptr<const SignedMessage> open(std::shared_ptr<const pst::ByteSource> wrapper, const Limits& limits = {});

    SignedMessage(const SignedMessage&) = delete;
    SignedMessage& operator=(const SignedMessage&) = delete;
    ~SignedMessage();

    std::size_t count() const { return m_parts.size(); }

    // The name of a part from its headers, or a name made for it; never empty.
    const QString& fileName(std::size_t index) const { return m_parts.at(index).fileName; }

    // Hands the part's decoded content to `sink` piece by piece; an attached
    // message is given as its bytes stand.
    using Sink = std::function<pst::Result<void>(pst::Bytes)>;
    pst::Result<void> write(std::size_t index, const Sink& sink) const;

private:
    struct Layer;
    struct Part {
        QString fileName;
        const Layer* layer = nullptr;
        void* object = nullptr; // the GMime object, owned by the layer's tree
        std::string boundary;   // of the closest multipart around an attached message
    };
    class Builder;

    SignedMessage() = default;
    pst::Result<void> writeMessage(const Part& part, const Sink& sink) const;

    std::vector<std::unique_ptr<Layer>> m_layers;
    std::vector<Part> m_parts;
};

} // namespace parcelon::smime
