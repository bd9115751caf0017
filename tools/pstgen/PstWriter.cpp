#include "pstgen/PstWriter.h"

#include "pstgen/Geometry.h"
#include "pstgen/NdbWriter.h"
#include "pstgen/StoreWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace parcelon::pstgen {

namespace {

// The partly written file: removed again unless it was completed.
class PartFile {
public:
    explicit PartFile(const QFileInfo& target)
    {
        for (int attempt = 0; attempt < 100 && !m_file.isOpen(); ++attempt) {
            m_file.setFileName(target.absoluteDir().filePath(
                QStringLiteral(".%1.%2-%3.part").arg(target.fileName()).arg(QCoreApplication::applicationPid()).arg(attempt)));
            m_file.open(QIODevice::ReadWrite | QIODevice::NewOnly);
        }
    }
    ~PartFile()
    {
        if (!m_done)
            m_file.remove();
    }

    QFile& file() { return m_file; }
    // Gives the file its final name; never replaces an existing file.
    bool complete(const QString& path)
    {
        m_file.close();
        m_done = m_file.rename(path);
        return m_done;
    }

private:
    QFile m_file;
    bool m_done = false;
};

} // namespace

pst::Result<WriteReport> PstWriter::write(const Description& description, const QString& path, const WriteOptions& options)
{
    const QFileInfo target(path);
    if (target.exists() || target.isSymLink())
        return pst::Error(pst::ErrorKind::Exists, QStringLiteral("%1 already exists").arg(path));
    if (!target.absoluteDir().exists())
        return pst::Error(pst::ErrorKind::Io, QStringLiteral("the folder of %1 does not exist").arg(path));

    PartFile part(target);
    if (!part.file().isOpen())
        return pst::Error(pst::ErrorKind::Io,
                          QStringLiteral("cannot create a file beside %1: %2").arg(path, part.file().errorString()));

    WriteReport report;
    NdbWriter ndb(part.file(), Geometry::of(description.format), description.encoding);
    StoreWriter(ndb, description, options, report).write();
    auto size = ndb.finish();
    if (!size)
        return size.error().withAction(QStringLiteral("cannot write %1").arg(path));
    report.fileSize = *size;

    if (!part.complete(target.absoluteFilePath()))
        return pst::Error(QFileInfo::exists(path) ? pst::ErrorKind::Exists : pst::ErrorKind::Io,
                          QStringLiteral("cannot create %1: %2").arg(path, part.file().errorString()));
    return report;
}

} // namespace parcelon::pstgen
