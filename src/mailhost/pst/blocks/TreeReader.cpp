#include "mailhost/pst/blocks/TreeReader.h"

namespace parcelon::pst {

Result<void> TreeReader::next(std::vector<std::uint8_t>& piece)
{
    piece.clear();
    piece.reserve(2 * m_pieceBytes); // a run read in place, or inflated, may pass the piece's size
    while (!atEnd() && piece.size() < m_pieceBytes) {
        const auto rest = std::span(m_leaves).subspan(m_next);
        const std::size_t run = m_blocks.adjacentRun(rest, m_pieceBytes);
        if (auto r = m_blocks.readRun(rest.first(run), piece, m_scratch); !r)
            return r;
        m_next += run;
    }
    return {};
}

} // namespace parcelon::pst
