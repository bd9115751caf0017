#pragma once

#include "mailhost/msg/CompoundFileReader.h"
#include "mailhost/pst/messaging/Message.h"

#include <QString>

#include <map>
#include <vector>

namespace parcelon::test {

// Checks a .msg file saved from `message`: the strict checks, every value
// read back against the engine's (recipients, attachments and attached
// messages to any depth), and what the peer readers make of it. Peers that
// are not installed are skipped with a message.
enum class Peers { All, AllButMsgconvert };
void checkSavedMessage(const pst::Message& message, const QString& path, const QString& workDir, Peers peers = Peers::All);

// Every stream of a compound file by its path ("storage/stream").
std::map<QString, std::vector<std::uint8_t>> streamsOf(const msg::CompoundFileReader& file);

// olefile lists the same streams with the same bytes, and olecfinfo reads
// the file.
void expectPeersAgree(const QString& path, const std::map<QString, std::vector<std::uint8_t>>& streams);

} // namespace parcelon::test
