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

// A string as a Unicode file stores it: UTF-16LE without a terminator.
QByteArray utf16le(const QString& text);

// How a file stores texts: UTF-16LE (PtypString) in Unicode files, bytes
// of a Windows code page (PtypString8) in ANSI files. A text the code page
// cannot carry fails the file being written.
class TextEncoding {
public:
    TextEncoding(NdbWriter& ndb, int codePage);

    // Whether texts can be written in `codePage`.
    static bool knows(int codePage);

    bool ansi() const { return m_ansi; }
    int codePage() const { return m_codePage; }
    // `tag` (a PtypString tag) with the string type the file uses.
    std::uint32_t tag(std::uint32_t tag) const;
    QByteArray encode(const QString& text) const;

private:
    NdbWriter* m_ndb;
    bool m_ansi;
    int m_codePage;
};

// A date as a FILETIME: 100-ns units since 1601-01-01 UTC.
std::uint64_t fileTime(const QDateTime& time);

} // namespace parcelon::pstgen
