#include "pstgen/Geometry.h"

namespace parcelon::pstgen {

const Geometry& Geometry::of(Format format)
{
    static const Geometry ansi{
        Format::Ansi, 14, 4, 512, 512, 12, 64, 12, 8180, 0x4200, 0x4400, 496 * 8 * 64, true, 4, 496, 496, 16, 2, 0x80000000ull,
    };
    static const Geometry unicode{
        Format::Unicode, 23, 8, 564, 512, 16, 64, 16, 8176, 0x4200, 0x4400, 496 * 8 * 64, true, 0, 488, 488, 16, 4, ~0ull,
    };
    static const Geometry unicode4k{
        Format::Unicode4k, 36,    8, 564,  4096, 24, 512, 24,    65512, 0x21000, 0x22000,
        4072ull * 8 * 512, false, 0, 4056, 4056, 19, 4,   ~0ull,
    };
    switch (format) {
    case Format::Ansi:
        return ansi;
    case Format::Unicode4k:
        return unicode4k;
    case Format::Unicode:
        break;
    }
    return unicode;
}

} // namespace parcelon::pstgen
