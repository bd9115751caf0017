#include "pstgen/Geometry.h"

namespace parcelon::pstgen {

const Geometry& Geometry::of(Format format)
{
    static const Geometry unicode{
        Format::Unicode, 23, 512, 16, 64, 16, 8176, 0x4200, 0x4400, 496 * 8 * 64, true, 488, 488, 16,
    };
    static const Geometry unicode4k{
        Format::Unicode4k, 36, 4096, 24, 512, 24, 65512, 0x21000, 0x22000, 4072ull * 8 * 512, false, 4056, 4056, 19,
    };
    return format == Format::Unicode4k ? unicode4k : unicode;
}

} // namespace parcelon::pstgen
