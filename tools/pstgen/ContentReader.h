#pragma once

#include "pstgen/Description.h"
#include "pstgen/SeededRandom.h"

#include "mailhost/pst/bytes/Error.h"

#include <QFile>

#include <cstdint>
#include <memory>
#include <span>

namespace parcelon::pstgen {

// The bytes of one attachment, read piece by piece so that no attachment is
// ever held whole in memory.
class ContentReader {
public:
    virtual ~ContentReader() = default;

    // Opens `content` for the attachment whose place has key `key` (random
    // content mixes it into its seed; a drawn size is drawn with it).
    static pst::Result<std::unique_ptr<ContentReader>> open(const Content& content, std::uint64_t key);

    std::uint64_t size() const { return m_size; }
    std::uint64_t remaining() const { return m_size - m_done; }

    // Fills `buffer` with the next bytes (at most remaining()).
    pst::Result<void> read(std::span<std::uint8_t> buffer);

protected:
    explicit ContentReader(std::uint64_t size) : m_size(size) {}
    virtual pst::Result<void> produce(std::span<std::uint8_t> buffer) = 0;

private:
    std::uint64_t m_size;
    std::uint64_t m_done = 0;
};

} // namespace parcelon::pstgen
