#include "pstgen/Description.h"

namespace parcelon::pstgen {

Content Content::fromBytes(QByteArray bytes)
{
    Content c;
    c.source = Source::Bytes;
    c.bytes = std::move(bytes);
    return c;
}

Content Content::fromFile(QString path)
{
    Content c;
    c.source = Source::File;
    c.path = std::move(path);
    return c;
}

Content Content::random(std::uint64_t seed, Range size, Style style)
{
    Content c;
    c.source = Source::Random;
    c.seed = seed;
    c.size = size;
    c.style = style;
    return c;
}

} // namespace parcelon::pstgen
