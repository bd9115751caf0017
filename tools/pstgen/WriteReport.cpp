#include "pstgen/WriteReport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace parcelon::pstgen {

pst::Result<void> WriteReport::writeManifest(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return pst::Error(pst::ErrorKind::Io, QStringLiteral("cannot create %1: %2").arg(path, file.errorString()));
    const auto optional = [](const std::optional<QString>& s) { return s ? QJsonValue(*s) : QJsonValue(); };
    for (const auto& a : attachmentList) {
        QJsonObject o;
        o[QStringLiteral("folder")] = a.folder.join(QLatin1Char('/'));
        o[QStringLiteral("message")] = qint64(a.message);
        o[QStringLiteral("class")] = a.messageClass;
        o[QStringLiteral("subject")] = a.subject;
        o[QStringLiteral("depth")] = a.depth;
        o[QStringLiteral("position")] = a.position;
        o[QStringLiteral("method")] = qint64(a.method);
        o[QStringLiteral("fileName")] = optional(a.fileName);
        o[QStringLiteral("shortFileName")] = optional(a.shortFileName);
        o[QStringLiteral("displayName")] = optional(a.displayName);
        o[QStringLiteral("size")] = qint64(a.size);
        if (!a.sha256.isEmpty())
            o[QStringLiteral("sha256")] = QString::fromLatin1(a.sha256.toHex());
        file.write(QJsonDocument(o).toJson(QJsonDocument::Compact));
        file.write("\n");
    }
    if (!file.commit())
        return pst::Error(pst::ErrorKind::Io, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return {};
}

} // namespace parcelon::pstgen
