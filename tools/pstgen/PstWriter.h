#pragma once

#include "pstgen/Description.h"
#include "pstgen/WriteReport.h"

#include "mailhost/pst/bytes/Error.h"

#include <QString>

namespace parcelon::pstgen {

// Writes PST files from descriptions.
//
// The same description always gives the same bytes. Attachment contents are
// streamed: memory grows with the number of blocks and messages, not with
// their bytes. The file is written under a temporary name beside `path` and
// renamed when complete; an existing file is never replaced, and nothing is
// left behind when writing fails.
class PstWriter {
public:
    static pst::Result<WriteReport> write(const Description& description, const QString& path, const WriteOptions& options = {});
};

} // namespace parcelon::pstgen
