#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace parcelon::test {

// What a peer reader said about a file: nothing when the peer is not
// installed (`missing` says which), else its JSON result or its failure.
struct PeerResult {
    QString missing;
    QString failure;
    QJsonObject json;
    QString output; // what it printed
};

// olefile (Python): every stream with its size and SHA-256.
PeerResult olefileStreams(const QString& path);
// libolecf's olecfinfo: its listing of the file.
PeerResult olecfinfo(const QString& path);
// msgconvert (Email::Outlook::Message): the MIME message it makes, parsed.
PeerResult msgconvert(const QString& path, const QString& workDir);
// @kenjiuno/msgreader (node): the message as it reads it.
PeerResult msgreader(const QString& path);

} // namespace parcelon::test
