#pragma once

#include "pstgen/HeapBuilder.h"
#include "pstgen/SubnodeList.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>

namespace parcelon::pstgen {

// Where a variable-size value of a property or table cell goes: nowhere
// when empty (0), into the heap when it fits an allocation, else into a new
// subnode of its own. Returns the heap id or subnode id.
std::uint32_t storeValue(std::span<const std::uint8_t> value, HeapBuilder& heap, NdbWriter& ndb, SubnodeList& subnodes);

// A string as the file stores it: UTF-16LE without a terminator.
QByteArray utf16le(const QString& text);

// A date as a FILETIME: 100-ns units since 1601-01-01 UTC.
std::uint64_t fileTime(const QDateTime& time);

} // namespace parcelon::pstgen
