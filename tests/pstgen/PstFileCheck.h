#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace parcelon::test {

// What a structural check of a written PST file found: everything a reader
// never looks at (allocation maps, CRCs, signatures, BTree ordering), plus
// which of the larger structures the file uses.
struct PstFileFacts {
    QStringList problems; // empty when the file is sound

    int version = 0;
    int encoding = -1;
    std::uint64_t nodes = 0;
    std::uint64_t blocks = 0;
    std::uint64_t compressedBlocks = 0;
    int nodeTreeLevels = 0;
    int blockTreeLevels = 0;
    bool hasXBlock = false;
    bool hasXXBlock = false;
    bool hasSIBlock = false;
    std::uint64_t largestHeapBlocks = 0; // blocks of the largest heap
    bool rowIndexWithLevels = false;     // a table whose row index has an index level
    bool rowMatrixInSubnode = false;
};

PstFileFacts checkPstFile(const QString& path);

} // namespace parcelon::test
