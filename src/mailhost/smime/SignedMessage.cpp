#include "mailhost/smime/SignedMessage.h"

#include "mailhost/smime/Cms.h"
#include "mailhost/smime/SourceStream.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace parcelon::smime {

using namespace Qt::StringLiterals;

namespace {

constexpr std::size_t kPieceBytes = 64 * 1024;

void initialiseGMime()
{
    static const bool done = [] {
        g_mime_init();
        return true;
    }();
    (void)done;
}

template <class T>
struct GObjectRef {
    T* object = nullptr;
    explicit GObjectRef(T* o = nullptr) : object(o) {}
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
    ~GObjectRef()
    {
        if (object)
            g_object_unref(object);
    }
    T* get() const { return object; }
    T* release() { return std::exchange(object, nullptr); }
};

bool isType(GMimeObject* object, const char* type, const char* subtype)
{
    GMimeContentType* contentType = g_mime_object_get_content_type(object);
    return contentType && g_mime_content_type_is_type(contentType, type, subtype);
}

bool isPkcs7Mime(GMimeObject* object)
{
    return isType(object, "application", "pkcs7-mime") || isType(object, "application", "x-pkcs7-mime");
}

// The part's own file name: Content-Disposition filename, else
// Content-Type name, decoded.
QString storedName(GMimeObject* object)
{
    const char* name = GMIME_IS_PART(object) ? g_mime_part_get_filename(GMIME_PART(object)) : nullptr;
    if (!name || !*name)
        name = g_mime_object_get_content_disposition_parameter(object, "filename");
    if (!name || !*name)
        name = g_mime_object_get_content_type_parameter(object, "name");
    return name ? QString::fromUtf8(name).trimmed() : QString();
}

// A name made up from a subject: separators and NULs become "_".
QString madeUpName(QString name)
{
    for (QChar& c : name)
        if (c == u'/' || c == u'\\' || c == QChar(0))
            c = u'_';
    return name;
}

bool isBodyText(GMimeObject* object)
{
    if (!isType(object, "text", "plain") && !isType(object, "text", "html") && !isType(object, "text", "enriched"))
        return false;
    if (!storedName(object).isEmpty())
        return false;
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
    return !disposition || !g_mime_content_disposition_is_attachment(disposition);
}

// Reads a stream to its end and hands it on in pieces of kPieceBytes.
pst::Result<void> drain(GMimeStream* stream, GMimeStream* source, const SignedMessage::Sink& sink)
{
    std::vector<char> piece(kPieceBytes);
    std::size_t filled = 0;
    for (;;) {
        const ssize_t n = g_mime_stream_read(stream, piece.data() + filled, piece.size() - filled);
        if (n < 0) {
            if (const pst::Error* error = sourceStreamError(source))
                return *error;
            return pst::corrupt(u"the content of a part of the signed message cannot be read"_s);
        }
        filled += static_cast<std::size_t>(n);
        if (filled == 0 && n == 0)
            return {};
        if (filled == piece.size() || n == 0) {
            if (auto r = sink(pst::Bytes(reinterpret_cast<const std::uint8_t*>(piece.data()), filled)); !r)
                return r;
            filled = 0;
            if (n == 0)
                return {};
        }
    }
}

} // namespace

bool isWrapperClass(const QString& messageClass)
{
    const QString c = messageClass.trimmed();
    return c.endsWith(u".SMIME"_s, Qt::CaseInsensitive) || c.endsWith(u".SMIME.MultipartSigned"_s, Qt::CaseInsensitive);
}

// One parsed MIME entity: the tree GMime made of it, over its source.
struct SignedMessage::Layer {
    std::shared_ptr<const pst::ByteSource> source;
    GMimeObject* root = nullptr;

    ~Layer()
    {
        if (root)
            g_object_unref(root);
    }
};

SignedMessage::~SignedMessage() = default;

class SignedMessage::Builder {
public:
    Builder(SignedMessage& message, const Limits& limits) : m_message(message), m_limits(limits) {}

    // Parses a MIME entity; nothing when it breaks a limit or cannot be read.
    const Layer* parse(std::shared_ptr<const pst::ByteSource> source)
    {
        auto scanner = std::make_shared<HeldTextScanner>(
            HeldLimits{m_limits.headerBytes, 2 * m_limits.parts + 2 * static_cast<std::size_t>(m_limits.levels)});
        GObjectRef<GMimeStream> stream(newSourceStream(source, scanner));
        GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        GMimeParserOptions* options = g_mime_parser_options_new();
        bool overflow = false;
        g_mime_parser_options_set_warning_callback(
            options,
            [](gint64, GMimeParserWarning warning, const gchar*, gpointer flag) {
                if (warning == GMIME_CRIT_NESTING_OVERFLOW)
                    *static_cast<bool*>(flag) = true;
            },
            &overflow);
        GObjectRef<GMimeObject> root(g_mime_parser_construct_part(parser.get(), options));
        g_mime_parser_options_free(options);
        if (!root.get() || overflow || scanner->broken() || sourceStreamError(stream.get()))
            return nullptr;
        auto layer = std::make_unique<Layer>();
        layer->source = std::move(source);
        layer->root = root.release();
        m_message.m_layers.push_back(std::move(layer));
        return m_message.m_layers.back().get();
    }

    // The attachments below `object`, which `depth` containers (multiparts
    // and signed layers) enclose; `content` tells that it is the content of
    // a signature (which is opened when it is signed again). False when a
    // limit is broken.
    bool collect(const Layer& layer, GMimeObject* object, int depth, const std::string& boundary, bool content)
    {
        if (++m_partCount > m_limits.parts)
            return false;
        if (GMIME_IS_MULTIPART(object)) {
            if (depth >= m_limits.levels)
                return false;
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            const bool signature = GMIME_IS_MULTIPART_SIGNED(object) || isType(object, "multipart", "signed");
            const char* own = g_mime_multipart_get_boundary(multipart);
            const std::string inner = own ? own : "";
            const int count = g_mime_multipart_get_count(multipart);
            for (int i = 0; i < count; ++i) {
                if (signature && i == 1) {
                    ++m_partCount; // the signature
                    continue;
                }
                if (!collect(layer, g_mime_multipart_get_part(multipart, i), depth + 1, inner, signature && i == 0))
                    return false;
            }
            return !signature || count > 0;
        }
        if (GMIME_IS_MESSAGE_PART(object)) {
            QString name = storedName(object);
            if (name.isEmpty()) {
                GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
                const char* subject = message ? g_mime_message_get_subject(message) : nullptr;
                const QString text = subject ? QString::fromUtf8(subject).trimmed() : QString();
                name = (text.isEmpty() ? u"Untitled Attachment"_s : madeUpName(text)) + u".eml"_s;
            }
            m_message.m_parts.push_back(Part{std::move(name), &layer, object, boundary});
            return true;
        }
        if (!GMIME_IS_PART(object))
            return true;
        if (content && isPkcs7Mime(object)) {
            if (auto unwrapped = openInner(object, depth))
                return *unwrapped;
        }
        if (isBodyText(object))
            return true;
        QString name = storedName(object);
        if (name.isEmpty())
            name = isPkcs7Mime(object) ? u"smime.p7m"_s : u"Untitled Attachment"_s;
        m_message.m_parts.push_back(Part{std::move(name), &layer, object, {}});
        return true;
    }

    // Opens a CMS layer (signed or compressed content) inside `depth` containers.
    bool unwrap(std::vector<std::uint8_t> content, int depth)
    {
        if (depth >= m_limits.levels)
            return false;
        const Layer* layer = parse(std::make_shared<pst::MemorySource>(std::move(content), u"the signed content"_s));
        return layer && collect(*layer, layer->root, depth + 1, {}, true);
    }

private:
    // A signed part inside signed content: the result of opening it, or
    // nothing when it is no signed layer (then it is an attachment as stored).
    std::optional<bool> openInner(GMimeObject* object, int depth)
    {
        std::vector<std::uint8_t> bytes;
        const SignedMessage::Sink sink = [&](pst::Bytes piece) -> pst::Result<void> {
            if (bytes.size() + piece.size() > m_limits.heldBytes)
                return pst::corrupt(u"too large"_s);
            bytes.insert(bytes.end(), piece.begin(), piece.end());
            return {};
        };
        if (!writeLeaf(object, sink))
            return std::nullopt;
        auto cms = readCms(bytes, m_limits.heldBytes);
        if (!cms || (cms->kind != Cms::Kind::Signed && cms->kind != Cms::Kind::Compressed))
            return std::nullopt;
        return unwrap(std::move(cms->content), depth);
    }

    SignedMessage& m_message;
    const Limits& m_limits;
    std::size_t m_partCount = 0;

public:
    static pst::Result<void> writeLeaf(GMimeObject* object, const Sink& sink)
    {
        GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
        GMimeStream* stored = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
        if (!stored)
            return {};
        GObjectRef<GMimeStream> own(g_mime_stream_substream(stored, stored->bound_start, stored->bound_end));
        GObjectRef<GMimeStream> filtered(g_mime_stream_filter_new(own.get()));
        const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
        if (encoding == GMIME_CONTENT_ENCODING_BASE64 || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE
            || encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
            GObjectRef<GMimeFilter> decoder(g_mime_filter_basic_new(encoding, FALSE));
            g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), decoder.get());
        }
        return drain(filtered.get(), own.get(), sink);
    }
};

std::shared_ptr<const SignedMessage> SignedMessage::open(std::shared_ptr<const pst::ByteSource> wrapper, const Limits& limits)
{
    initialiseGMime();
    if (!wrapper || wrapper->size() == 0)
        return nullptr;
    std::uint8_t first = 0;
    if (!wrapper->read(0, std::span(&first, 1)))
        return nullptr;

    std::shared_ptr<SignedMessage> message(new SignedMessage);
    Builder builder(*message, limits);
    // A MIME entity whose top type is multipart/signed: clear-signed.
    if (first != 0x30) {
        const Layer* layer = builder.parse(wrapper);
        if (layer && isType(layer->root, "multipart", "signed"))
            return builder.collect(*layer, layer->root, 0, {}, false) ? message : nullptr;
        message->m_layers.clear();
    }
    // Else CMS, in DER or base64: opaque-signed (or compressed).
    const std::uint64_t held = first == 0x30 ? limits.heldBytes : limits.heldBytes / 3 * 4 + 64 * 1024;
    if (wrapper->size() > held)
        return nullptr;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(wrapper->size()));
    if (!wrapper->read(0, bytes))
        return nullptr;
    auto cms = readCms(bytes, limits.heldBytes);
    bytes = {};
    if (!cms || (cms->kind != Cms::Kind::Signed && cms->kind != Cms::Kind::Compressed))
        return nullptr;
    return builder.unwrap(std::move(cms->content), 0) ? message : nullptr;
}

// --- Attached messages ---------------------------------------------------------

namespace {

// Reads a source from `offset` to its end in pieces; `visit` returns false to stop.
template <class Visit>
pst::Result<void> scan(const pst::ByteSource& source, std::uint64_t offset, Visit visit)
{
    std::vector<std::uint8_t> piece;
    while (offset < source.size()) {
        piece.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, source.size() - offset)));
        if (auto r = source.read(offset, piece); !r)
            return r;
        if (!visit(offset, pst::Bytes(piece)))
            return {};
        offset += piece.size();
    }
    return {};
}

// Where the body of the entity whose headers begin at `offset` begins: after
// the first empty line.
pst::Result<std::uint64_t> bodyStart(const pst::ByteSource& source, std::uint64_t offset)
{
    std::uint64_t found = source.size();
    bool lineStart = true;
    bool carriageReturn = false;
    auto r = scan(source, offset, [&](std::uint64_t at, pst::Bytes piece) {
        for (std::size_t i = 0; i < piece.size(); ++i) {
            const std::uint8_t c = piece[i];
            if (c == '\n') {
                if (lineStart) {
                    found = at + i + 1;
                    return false;
                }
                lineStart = true;
                carriageReturn = false;
            } else if (c == '\r' && lineStart && !carriageReturn) {
                carriageReturn = true;
            } else {
                lineStart = false;
                carriageReturn = false;
            }
        }
        return true;
    });
    if (!r)
        return r.error();
    return found;
}

// Where the content that begins at `start` ends: before the line break of
// the first line that begins with "--" and the boundary; the source's end
// without a boundary.
pst::Result<std::uint64_t> contentEnd(const pst::ByteSource& source, std::uint64_t start, const std::string& boundary)
{
    if (boundary.empty())
        return source.size();
    const std::string delimiter = "\n--" + boundary;
    std::string window;
    std::uint64_t windowStart = start;
    std::uint64_t found = source.size();
    // The line break before a boundary right at the start is the one that
    // ends the headers.
    const std::uint64_t from = start >= 1 ? start - 1 : start;
    windowStart = from;
    auto r = scan(source, from, [&](std::uint64_t, pst::Bytes piece) {
        window.append(reinterpret_cast<const char*>(piece.data()), piece.size());
        if (const auto at = window.find(delimiter); at != std::string::npos) {
            found = windowStart + at;
            return false;
        }
        const std::size_t keep = std::min(window.size(), delimiter.size() - 1);
        windowStart += window.size() - keep;
        window.erase(0, window.size() - keep);
        return true;
    });
    if (!r)
        return r.error();
    if (found < source.size() && found > start) {
        std::uint8_t before = 0;
        if (auto read = source.read(found - 1, std::span(&before, 1)); read && before == '\r')
            --found;
    }
    return std::max(found, start);
}

} // namespace

pst::Result<void> SignedMessage::writeMessage(const Part& part, const Sink& sink) const
{
    const pst::ByteSource& source = *part.layer->source;
    auto* object = static_cast<GMimeObject*>(part.object);
    std::uint64_t start = 0;
    GMimeHeaderList* own = g_mime_object_get_header_list(object);
    GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    GMimeHeaderList* inner = message ? g_mime_object_get_header_list(GMIME_OBJECT(message)) : nullptr;
    if (own && g_mime_header_list_get_count(own) > 0) {
        auto body =
            bodyStart(source, static_cast<std::uint64_t>(g_mime_header_get_offset(g_mime_header_list_get_header_at(own, 0))));
        if (!body)
            return body.error();
        start = *body;
    } else if (inner && g_mime_header_list_get_count(inner) > 0) {
        start = static_cast<std::uint64_t>(g_mime_header_get_offset(g_mime_header_list_get_header_at(inner, 0)));
    } else {
        return {};
    }
    auto end = contentEnd(source, start, part.boundary);
    if (!end)
        return end.error();
    std::vector<std::uint8_t> piece;
    for (std::uint64_t at = start; at < *end; at += piece.size()) {
        piece.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, *end - at)));
        if (auto r = source.read(at, piece); !r)
            return r;
        if (auto r = sink(piece); !r)
            return r;
    }
    return {};
}

pst::Result<void> SignedMessage::write(std::size_t index, const Sink& sink) const
{
    const Part& part = m_parts.at(index);
    auto* object = static_cast<GMimeObject*>(part.object);
    if (GMIME_IS_MESSAGE_PART(object))
        return writeMessage(part, sink);
    return Builder::writeLeaf(object, sink);
}

} // namespace parcelon::smime
