#pragma once

#include "mailhost/pst/bytes/ByteSource.h"

#include <gmime/gmime.h>

#include <cstddef>
#include <memory>

namespace parcelon::smime {

// What the parser may hold in memory: the bytes of a header block, of a
// multipart's preamble or epilogue, and the number of boundary lines.
struct HeldLimits {
    std::uint64_t heldBytes = 1024 * 1024;
    std::size_t boundaryLines = 20000;
};

// Follows the lines of a MIME entity as the parser reads them and tells
// when text that a MIME parser keeps in memory (header blocks, preambles,
// epilogues) grows past a limit, or boundary lines grow too many. It errs
// on the side of "too much": where it cannot tell, it counts.
class HeldTextScanner {
public:
    explicit HeldTextScanner(HeldLimits limits) : m_limits(limits) {}
    // Takes the next bytes of the entity; false once a limit is broken.
    bool feed(const char* data, std::size_t size);
    bool broken() const { return m_broken; }

private:
    enum class Region { Headers, Preamble, Content, Epilogue };
    void endOfLine();

    void enter(Region region);
    void watchHeaderByte(char c);

    HeldLimits m_limits;
    Region m_region = Region::Headers;
    std::uint64_t m_held = 0;
    std::size_t m_boundaries = 0;
    std::uint64_t m_lineLength = 0;
    char m_lineStart[2] = {};
    char m_lineEnd[4] = {}; // the last four bytes of the line so far
    // What the header block names: found in its last bytes, lower case.
    char m_tail[16] = {};
    bool m_blockHasMessage = false;
    bool m_blockHasMultipart = false;
    bool m_blockHasContentType = false;
    bool m_digest = false;
    bool m_broken = false;
};

// A GMime stream over the bytes of a wrapper. GMime's offsets are offsets into
// the source. A stream made with a scanner feeds it everything it reads in
// order and reads nothing more once the scanner reports a broken limit.
GMimeStream* newSourceStream(std::shared_ptr<const pst::ByteSource> source, std::shared_ptr<HeldTextScanner> scanner = nullptr);

// The error of the last failed read of a source stream, if any.
const pst::Error* sourceStreamError(GMimeStream* stream);

} // namespace parcelon::smime
