#include "window/CursorFile.h"

#include "diagnostics/Failure.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>

#include <optional>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

// Pointer files hold a few small images; anything larger is no pointer.
constexpr qint64 kMaxPointerFileSize = 4 * 1024 * 1024;

// ICONDIR: reserved, type (1 icon, 2 cursor), count; then 16-byte entries
// whose bytes 4-7 are, for a cursor, the hotspot's x and y.
constexpr qsizetype kDirectorySize = 6;
constexpr qsizetype kEntrySize = 16;
constexpr quint16 kCursorType = 2;

quint16 le16(const QByteArray& bytes, qsizetype offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

std::optional<QPoint> cursorHotspot(const QByteArray& bytes)
{
    if (bytes.size() < kDirectorySize + kEntrySize)
        return std::nullopt;
    if (le16(bytes, 0) != 0 || le16(bytes, 2) != kCursorType || le16(bytes, 4) == 0)
        return std::nullopt;
    return QPoint(le16(bytes, kDirectorySize + 4), le16(bytes, kDirectorySize + 6));
}

} // namespace

QCursor readCursorFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(FailureNumber::FileError, u"Cannot open the pointer image %1: %2"_s.arg(path, file.errorString()));
    if (file.size() > kMaxPointerFileSize)
        throw Failure(u"The pointer image %1 is too large (%2 bytes)"_s.arg(path).arg(file.size()));
    const QByteArray bytes = file.readAll();

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QImage image = reader.read();
    if (image.isNull())
        throw Failure(u"Cannot read the pointer image %1: %2"_s.arg(path, reader.errorString()));

    const std::optional<QPoint> hotspot = cursorHotspot(bytes);
    if (!hotspot)
        return QCursor(QPixmap::fromImage(image));
    return QCursor(QPixmap::fromImage(image), hotspot->x(), hotspot->y());
}

} // namespace parcelon
