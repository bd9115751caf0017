#pragma once

#include <cstdint>
#include <span>

namespace parcelon::pstgen {

// Where a table keeps one column in its rows.
struct ColumnDescription {
    std::uint32_t tag;
    std::uint16_t ibData; // offset in the row
    std::uint8_t cbData;  // cell size
    std::uint8_t iBit;    // bit in the cell existence bitmap
};

// A table's columns and the ends of its 8/4-byte, 2-byte and 1-byte cell
// groups and of the existence bitmap (= the row size).
struct ColumnSet {
    std::span<const ColumnDescription> columns;
    std::uint16_t ends[4];

    std::uint16_t rowSize() const { return ends[3]; }
    const ColumnDescription* find(std::uint32_t tag) const;
};

// The column layouts of Outlook's own table templates, copied exactly: every
// folder's hierarchy, contents and associated contents table, and every
// message's recipient and attachment table uses them.
namespace columns {
const ColumnSet& hierarchy();
const ColumnSet& contents();
const ColumnSet& associatedContents();
const ColumnSet& searchContents();
const ColumnSet& attachments();
const ColumnSet& recipients();
const ColumnSet& receiveFolders();
const ColumnSet& outgoingQueue();
// Three more template tables whose purpose is not documented (node types 0x16-0x18).
const ColumnSet& template16();
const ColumnSet& template17();
const ColumnSet& template18();
} // namespace columns

} // namespace parcelon::pstgen
