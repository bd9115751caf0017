#include "PeerTools.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace parcelon::test {

namespace {

QByteArray sha256Of(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        ADD_FAILURE() << "cannot read " << path.toStdString();
    return hash.result();
}

bool run(const QString& tool, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, arguments);
    if (!process.waitForFinished(10 * 60 * 1000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << tool.toStdString() << " failed: " << process.readAll().right(2000).toStdString();
        return false;
    }
    return true;
}

} // namespace

std::optional<QString> peerTool(const QString& name)
{
    const QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

ExtractedSet pffexportAttachments(const QString& pst, const QString& workDir)
{
    ExtractedSet out;
    const QString target = workDir + QStringLiteral("/pff");
    if (!run(*peerTool(QStringLiteral("pffexport")), {QStringLiteral("-q"), QStringLiteral("-t"), target, pst}))
        return out;
    // <IPM subtree>/<folders>/<Item>00001/Attachments/<n>_<name>, and
    // .../Attachments/Attachment00002/Message00001/Attachments/... inside.
    static const QRegularExpression item(QStringLiteral("^[A-Z][a-z]+\\d{5}$"));
    static const QRegularExpression embedded(QStringLiteral("^Attachment\\d{5}$"));
    static const QRegularExpression numbered(QStringLiteral("^\\d+_(.*)$"));
    const QDir root(target + QStringLiteral(".export"));
    QDirIterator it(root.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QStringList parts = root.relativeFilePath(path).split(QLatin1Char('/'));
        if (parts.size() < 4 || parts[parts.size() - 2] != u"Attachments")
            continue;
        qsizetype first = 1;
        while (first < parts.size() && !item.match(parts[first]).hasMatch())
            ++first;
        int depth = 0;
        for (qsizetype i = first + 1; i < parts.size(); ++i)
            depth += embedded.match(parts[i]).hasMatch() ? 1 : 0;
        const auto name = numbered.match(parts.last());
        out.insert({parts.mid(1, first - 1).join(QLatin1Char('/')), depth, name.captured(1), sha256Of(path)});
    }
    return out;
}

ExtractedSet readpstAttachments(const QString& pst, const QString& workDir)
{
    ExtractedSet out;
    const QString target = workDir + QStringLiteral("/readpst");
    QDir().mkpath(target);
    // One job (its parallel mode mixes up attachments), no RTF bodies.
    if (!run(*peerTool(QStringLiteral("readpst")),
             {QStringLiteral("-j"), QStringLiteral("0"), QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("-S"),
              QStringLiteral("-D"), QStringLiteral("-b"), QStringLiteral("-o"), target, pst}))
        return out;
    // <store name>/<folders>/<message number>-<name>[-<n> for a repeated name]
    static const QRegularExpression attachment(QStringLiteral("^\\d+-(.*?)(-\\d+)?$"));
    const QDir root(target);
    QDirIterator it(root.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QStringList parts = root.relativeFilePath(path).split(QLatin1Char('/'));
        const auto name = attachment.match(parts.last());
        if (parts.size() >= 2 && name.hasMatch())
            out.insert({parts.mid(1, parts.size() - 2).join(QLatin1Char('/')), 0, name.captured(1), sha256Of(path)});
    }
    return out;
}

ExtractedSet withoutNames(const ExtractedSet& set)
{
    ExtractedSet out;
    for (Extracted e : set) {
        e.name.clear();
        out.insert(e);
    }
    return out;
}

void PrintTo(const Extracted& e, std::ostream* out)
{
    *out << '[' << e.folder.toStdString() << "] depth " << e.depth << " [" << e.name.toStdString() << "] "
         << e.sha256.toHex().left(12).toStdString();
}

} // namespace parcelon::test
