#include "mailhost/smime/SourceStream.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

namespace parcelon::smime {

// --- Held text ---------------------------------------------------------------

void HeldTextScanner::enter(Region region)
{
    m_region = region;
    m_held = 0;
    m_blockHasMessage = m_blockHasMultipart = m_blockHasContentType = false;
    std::fill(std::begin(m_tail), std::end(m_tail), '\0');
}

void HeldTextScanner::watchHeaderByte(char c)
{
    std::memmove(m_tail, m_tail + 1, sizeof m_tail - 1);
    m_tail[sizeof m_tail - 1] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    const std::string_view tail(m_tail, sizeof m_tail);
    if (tail.ends_with("message/"))
        m_blockHasMessage = true;
    else if (tail.ends_with("multipart/"))
        m_blockHasMultipart = true;
    else if (tail.ends_with("content-type"))
        m_blockHasContentType = true;
    else if (tail.ends_with("multipart/digest"))
        m_digest = true;
}

void HeldTextScanner::endOfLine()
{
    // m_lineEnd ends with the line break.
    const bool crlf = m_lineEnd[2] == '\r';
    const std::uint64_t length = m_lineLength - (crlf ? 2 : 1);
    const bool endsWithDashes =
        crlf ? (m_lineEnd[0] == '-' && m_lineEnd[1] == '-') : (m_lineEnd[1] == '-' && m_lineEnd[2] == '-');
    const bool boundary = length >= 2 && m_lineStart[0] == '-' && m_lineStart[1] == '-';
    const bool closing = boundary && length >= 4 && endsWithDashes;
    if (boundary && ++m_boundaries > m_limits.boundaryLines) {
        m_broken = true;
        return;
    }
    if (m_region == Region::Headers) {
        if (length != 0)
            return;
        // An attached message's headers follow its part's headers; in a
        // digest, so do those of a part that names no type.
        if (m_blockHasMessage || (m_digest && !m_blockHasContentType))
            enter(Region::Headers);
        else
            enter(m_blockHasMultipart ? Region::Preamble : Region::Content);
        return;
    }
    if (boundary)
        enter(closing ? Region::Epilogue : Region::Headers);
}

bool HeldTextScanner::feed(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size && !m_broken; ++i) {
        // Inside content only the starts of lines matter: skip to the next break.
        if (m_region == Region::Content && m_lineLength >= 2) {
            const auto* found = static_cast<const char*>(std::memchr(data + i, '\n', size - i));
            const std::size_t end = found ? static_cast<std::size_t>(found - data) : size;
            for (std::size_t k = std::max(i, end >= 4 ? end - 4 : 0); k < end; ++k) {
                m_lineEnd[0] = m_lineEnd[1];
                m_lineEnd[1] = m_lineEnd[2];
                m_lineEnd[2] = m_lineEnd[3];
                m_lineEnd[3] = data[k];
            }
            m_lineLength += end - i;
            i = end;
            if (i == size)
                break;
        }
        const char c = data[i];
        if (m_lineLength < 2)
            m_lineStart[m_lineLength] = c;
        ++m_lineLength;
        m_lineEnd[0] = m_lineEnd[1];
        m_lineEnd[1] = m_lineEnd[2];
        m_lineEnd[2] = m_lineEnd[3];
        m_lineEnd[3] = c;
        if (m_region != Region::Content && ++m_held > m_limits.heldBytes) {
            m_broken = true;
            break;
        }
        if (m_region == Region::Headers)
            watchHeaderByte(c);
        if (c == '\n') {
            endOfLine();
            m_lineLength = 0;
            std::fill(std::begin(m_lineEnd), std::end(m_lineEnd), '\0');
        }
    }
    return !m_broken;
}

// --- The GMime stream ----------------------------------------------------------

namespace {

struct SourceStreamState {
    std::shared_ptr<const pst::ByteSource> source;
    std::shared_ptr<HeldTextScanner> scanner;
    std::uint64_t scanned = 0; // the scanner has seen the bytes before this offset
    std::optional<pst::Error> error;
};

} // namespace

} // namespace parcelon::smime

extern "C" {

struct ParcelonSourceStream {
    GMimeStream parent;
    parcelon::smime::SourceStreamState* state;
};

struct ParcelonSourceStreamClass {
    GMimeStreamClass parent_class;
};

G_DEFINE_TYPE(ParcelonSourceStream, parcelon_source_stream, GMIME_TYPE_STREAM)

} // extern "C"

namespace parcelon::smime {

namespace {

ParcelonSourceStream* self(GMimeStream* stream)
{
    return reinterpret_cast<ParcelonSourceStream*>(stream);
}

gint64 endOf(GMimeStream* stream)
{
    const auto size = static_cast<gint64>(self(stream)->state->source->size());
    return stream->bound_end == -1 ? size : std::min(stream->bound_end, size);
}

ssize_t streamRead(GMimeStream* stream, char* buf, size_t len)
{
    SourceStreamState& state = *self(stream)->state;
    if (state.error || (state.scanner && state.scanner->broken()))
        return -1;
    const gint64 end = endOf(stream);
    if (stream->position < stream->bound_start || stream->position >= end)
        return 0;
    const auto count = static_cast<std::size_t>(std::min<gint64>(static_cast<gint64>(len), end - stream->position));
    const auto at = static_cast<std::uint64_t>(stream->position);
    auto* bytes = reinterpret_cast<std::uint8_t*>(buf);
    if (auto r = state.source->read(at, std::span(bytes, count)); !r) {
        state.error = r.error();
        return -1;
    }
    if (state.scanner && at <= state.scanned && at + count > state.scanned) {
        const std::size_t skip = static_cast<std::size_t>(state.scanned - at);
        state.scanned = at + count;
        if (!state.scanner->feed(buf + skip, count - skip))
            return -1;
    }
    stream->position += static_cast<gint64>(count);
    return static_cast<ssize_t>(count);
}

ssize_t streamWrite(GMimeStream*, const char*, size_t)
{
    return -1;
}

int streamFlush(GMimeStream*)
{
    return 0;
}

int streamClose(GMimeStream*)
{
    return 0;
}

gboolean streamEos(GMimeStream* stream)
{
    return stream->position >= endOf(stream);
}

int streamReset(GMimeStream* stream)
{
    stream->position = stream->bound_start;
    return 0;
}

gint64 streamSeek(GMimeStream* stream, gint64 offset, GMimeSeekWhence whence)
{
    gint64 real = stream->position;
    switch (whence) {
    case GMIME_STREAM_SEEK_SET:
        real = offset;
        break;
    case GMIME_STREAM_SEEK_CUR:
        real = stream->position + offset;
        break;
    case GMIME_STREAM_SEEK_END:
        real = endOf(stream) + offset;
        break;
    }
    if (real < stream->bound_start || real > endOf(stream)) {
        errno = EINVAL;
        return -1;
    }
    stream->position = real;
    return real;
}

gint64 streamTell(GMimeStream* stream)
{
    return stream->position;
}

gint64 streamLength(GMimeStream* stream)
{
    return endOf(stream) - stream->bound_start;
}

GMimeStream* newStream(std::shared_ptr<const pst::ByteSource> source, std::shared_ptr<HeldTextScanner> scanner, gint64 start,
                       gint64 end)
{
    auto* stream = static_cast<ParcelonSourceStream*>(g_object_new(parcelon_source_stream_get_type(), nullptr));
    stream->state = new SourceStreamState{std::move(source), std::move(scanner), static_cast<std::uint64_t>(start), {}};
    g_mime_stream_construct(GMIME_STREAM(stream), start, end);
    return GMIME_STREAM(stream);
}

GMimeStream* streamSubstream(GMimeStream* stream, gint64 start, gint64 end)
{
    return newStream(self(stream)->state->source, nullptr, start, end);
}

void streamFinalize(GObject* object)
{
    delete reinterpret_cast<ParcelonSourceStream*>(object)->state;
    G_OBJECT_CLASS(parcelon_source_stream_parent_class)->finalize(object);
}

} // namespace

GMimeStream* newSourceStream(std::shared_ptr<const pst::ByteSource> source, std::shared_ptr<HeldTextScanner> scanner)
{
    return newStream(std::move(source), std::move(scanner), 0, -1);
}

const pst::Error* sourceStreamError(GMimeStream* stream)
{
    if (!G_TYPE_CHECK_INSTANCE_TYPE(stream, parcelon_source_stream_get_type()))
        return nullptr;
    const auto& error = self(stream)->state->error;
    return error ? &*error : nullptr;
}

} // namespace parcelon::smime

extern "C" {

static void parcelon_source_stream_class_init(ParcelonSourceStreamClass* klass)
{
    GMimeStreamClass* stream = GMIME_STREAM_CLASS(klass);
    G_OBJECT_CLASS(klass)->finalize = parcelon::smime::streamFinalize;
    stream->read = parcelon::smime::streamRead;
    stream->write = parcelon::smime::streamWrite;
    stream->flush = parcelon::smime::streamFlush;
    stream->close = parcelon::smime::streamClose;
    stream->eos = parcelon::smime::streamEos;
    stream->reset = parcelon::smime::streamReset;
    stream->seek = parcelon::smime::streamSeek;
    stream->tell = parcelon::smime::streamTell;
    stream->length = parcelon::smime::streamLength;
    stream->substream = parcelon::smime::streamSubstream;
}

static void parcelon_source_stream_init(ParcelonSourceStream* stream)
{
    stream->state = nullptr;
}

} // extern "C"
