#pragma once

#include "pstgen/Description.h"

#include <QString>

#include <cstdint>

namespace parcelon::pstgen {

// Where an expanded copy of a description element stands: the copy numbers
// that fill the text counters and a key that seeds what is drawn for it.
struct Expansion {
    int folder = 0;            // copy number of the nearest repeated folder
    int item = 0;              // ... item
    int attachment = 0;        // ... attachment
    std::uint64_t message = 0; // number of the message in the file
    std::uint64_t key = 0;

    // The place of copy `copy` (1-based) of child element `index` of kind
    // `kind` ('F', 'I', 'A'), below this one. Only a `repeated` element sets
    // the counter of its kind.
    Expansion child(char kind, std::size_t index, int copy, bool repeated) const;

    // How many copies of child element `index` to write.
    std::uint64_t copies(char kind, std::size_t index, const Range& repeat) const;
    // A value drawn from `range` for this place (`purpose` tells draws apart).
    std::uint64_t draw(const Range& range, char purpose) const;

    // `text` with {folder}, {item}, {attachment} and {message} (optionally
    // {item:N}, zero-padded to N digits) replaced; other braces stay.
    QString expand(const QString& text) const;
};

} // namespace parcelon::pstgen
