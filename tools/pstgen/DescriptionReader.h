#pragma once

#include "pstgen/Description.h"

#include "mailhost/pst/bytes/Error.h"

#include <QByteArray>
#include <QString>

namespace parcelon::pstgen {

// Reads a description from its JSON form (README.md). Unknown keys and
// values of the wrong kind are errors that name where they are.
class DescriptionReader {
public:
    // `baseDir` resolves relative content file paths.
    static pst::Result<Description> read(const QByteArray& json, const QString& baseDir);
    static pst::Result<Description> readFile(const QString& path);

    // The 8.3 name Outlook would give a long file name ("Annual report.pdf"
    // becomes "Annual~1.pdf"); a name that already fits stays as it is.
    static QString shortFileName(const QString& fileName);
};

} // namespace parcelon::pstgen
