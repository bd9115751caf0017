#pragma once

#include "mailhost/pst/bytes/SpanReader.h"

#include <QString>

namespace parcelon::pst {

inline constexpr int kDefaultCodePage = 1252;

// A UTF-16LE string value; trailing NUL characters (which some writers
// store) are dropped.
QString fromUtf16le(Bytes bytes);

// An 8-bit string value in a Windows code page; trailing NULs dropped.
// Unknown code pages fall back to Windows-1252.
QString fromCodePage(Bytes bytes, int codePage);

// The ANSI code page Windows uses for a locale id (LCID); 0 when unknown.
int codePageOfLocale(int lcid);

} // namespace parcelon::pst
