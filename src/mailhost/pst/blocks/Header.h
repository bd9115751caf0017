#pragma once

#include "mailhost/pst/blocks/Format.h"
#include "mailhost/pst/bytes/ByteSource.h"
#include "mailhost/pst/bytes/Encoding.h"

#include <cstdint>

namespace parcelon::pst {

// What the engine takes from a file's header.
struct Header {
    Format format;
    Encoding encoding = Encoding::None;
    std::uint16_t version = 0;   // wVer
    bool ost = false;            // wMagicClient "SO"
    std::uint64_t fileEof = 0;   // ibFileEof
    BlockRef nodeBTree;          // root page of the node B-tree
    BlockRef blockBTree;         // root page of the block B-tree
    bool amapValid = false;      // fAMapValid: the allocation maps tell free from used space
    bool checksumsWrong = false; // the header's own checksums do not match it

    // Reads and checks the header: NotPst for a file that does not start like
    // a PST file, Unsupported for a version or encoding this reader does not
    // know, Corrupt for a Unicode header cut short. Wrong checksums and roots
    // are no reason to refuse: the pages they lead to are checked on their own.
    static Result<Header> read(const ByteSource& source);
};

} // namespace parcelon::pst
