#pragma once

#include "mailhost/msg/CompoundFileReader.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <map>

namespace parcelon::test {

// The faults of a compound file that a strict reader would refuse and a
// lenient one lets pass: header constants, FAT marks of the FAT and DIFAT
// sectors, free DIFAT slots, sectors and mini sectors that no chain uses,
// unused directory entries that are not blank, and child trees that break
// the name order or the red-black rules. Empty for a sound file. (The
// reader itself refuses chains that do not end, cross or miss their size.)
QStringList compoundFileFaults(const msg::CompoundFileReader& file, std::uint64_t fileSize);

// The faults of a .msg file: the root's class, property stream headers
// (32, 24 and 8 bytes) with counts that match the recipient and attachment
// storages, entries whose value streams are missing or of the wrong size,
// value streams without an entry, and a named-property map whose buckets
// do not hold exactly its entries.
QStringList msgFaults(const msg::CompoundFileReader& file);

// One entry of a property stream.
struct MsgProperty {
    std::uint32_t flags = 0;
    std::uint64_t value = 0; // fixed-size values; the size for the others
};

// The entries of the property stream of `storage`, by tag.
std::map<std::uint32_t, MsgProperty> msgProperties(const msg::CompoundFileReader& file, msg::CompoundFileReader::EntryId storage,
                                                   std::size_t headerSize);

// A stream's bytes; empty when it is not there.
QByteArray streamBytes(const msg::CompoundFileReader& file, msg::CompoundFileReader::EntryId storage, const QString& name);

QString valueStreamName(std::uint32_t tag);

} // namespace parcelon::test
