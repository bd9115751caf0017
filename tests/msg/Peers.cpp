#include "Peers.h"

#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>

namespace parcelon::test {

using namespace Qt::StringLiterals;

namespace {

constexpr int kSkipped = 77;                   // what the helper scripts exit with when their peer is missing
const QString kPython = u"/usr/bin/python3"_s; // the Debian peers are modules of the system's Python

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString& program, const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run r;
    if (!process.waitForStarted(10000) || !process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        r.err = process.errorString().toUtf8();
        return r;
    }
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = process.readAllStandardOutput();
    r.err = process.readAllStandardError();
    return r;
}

PeerResult fromJson(const Run& r, const QString& peer)
{
    PeerResult result;
    if (r.exitCode == kSkipped) {
        result.missing = peer;
        return result;
    }
    result.output = QString::fromUtf8(r.out);
    if (r.exitCode != 0) {
        result.failure = u"%1 failed (%2): %3"_s.arg(peer).arg(r.exitCode).arg(QString::fromUtf8(r.err));
        return result;
    }
    QJsonParseError error;
    result.json = QJsonDocument::fromJson(r.out, &error).object();
    if (error.error != QJsonParseError::NoError)
        result.failure = u"%1 printed no JSON: %2"_s.arg(peer, error.errorString());
    return result;
}

PeerResult missingPeer(const QString& peer)
{
    PeerResult result;
    result.missing = peer;
    return result;
}

QString script(const QString& name)
{
    return sourceDir() + u"/tests/msg/"_s + name;
}

} // namespace

PeerResult olefileStreams(const QString& path)
{
    if (!QFileInfo::exists(kPython))
        return missingPeer(u"python3"_s);
    return fromJson(run(kPython, {script(u"peers.py"_s), u"olefile"_s, path}), u"olefile"_s);
}

PeerResult olecfinfo(const QString& path)
{
    const QString program = QStandardPaths::findExecutable(u"olecfinfo"_s);
    if (program.isEmpty())
        return missingPeer(u"olecfinfo (libolecf-utils)"_s);
    const Run r = run(program, {path});
    PeerResult result;
    result.output = QString::fromUtf8(r.out);
    if (r.exitCode != 0)
        result.failure = u"olecfinfo failed (%1): %2%3"_s.arg(r.exitCode).arg(QString::fromUtf8(r.out), QString::fromUtf8(r.err));
    return result;
}

PeerResult msgconvert(const QString& path, const QString& workDir)
{
    const QString program = QStandardPaths::findExecutable(u"msgconvert"_s);
    if (program.isEmpty())
        return missingPeer(u"msgconvert (libemail-outlook-message-perl)"_s);
    // Without Email::Address (a recommended package) msgconvert cannot start.
    if (run(u"perl"_s, {u"-MEmail::Outlook::Message"_s, u"-MEmail::Address"_s, u"-e1"_s}).exitCode != 0)
        return missingPeer(u"msgconvert's Perl modules (libemail-address-perl)"_s);
    const QString eml = QDir(workDir).filePath(QFileInfo(path).completeBaseName() + u".eml"_s);
    QFile::remove(eml);
    const Run converted = run(program, {u"--outfile"_s, eml, path});
    if (converted.exitCode != 0 || !QFileInfo::exists(eml)) {
        PeerResult result;
        result.failure = u"msgconvert failed (%1): %2"_s.arg(converted.exitCode).arg(QString::fromUtf8(converted.err));
        return result;
    }
    return fromJson(run(kPython, {script(u"peers.py"_s), u"eml"_s, eml}), u"the MIME parser"_s);
}

PeerResult msgreader(const QString& path)
{
    const QString node = QStandardPaths::findExecutable(u"node"_s);
    const QString npm = QStandardPaths::findExecutable(u"npm"_s);
    if (node.isEmpty() || npm.isEmpty())
        return missingPeer(u"node"_s);
    static const QString globalModules = QString::fromUtf8(run(npm, {u"root"_s, u"-g"_s}).out).trimmed();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"NODE_PATH"_s, globalModules);
    PeerResult result = fromJson(run(node, {script(u"msgreader.js"_s), path}, environment), u"@kenjiuno/msgreader"_s);
    if (!result.missing.isEmpty())
        result.missing = u"@kenjiuno/msgreader (npm)"_s;
    return result;
}

} // namespace parcelon::test
