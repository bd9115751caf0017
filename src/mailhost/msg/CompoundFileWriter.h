#pragma once

#include "mailhost/msg/CompoundFile.h"
#include "mailhost/msg/Output.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace parcelon::msg {

// Writes a compound file (version 3): storages and streams added one by
// one, each stream's bytes written to the output as they come. Streams of
// 4096 bytes or more take ordinary sectors; smaller ones go to the mini
// stream, whose sectors are written as they fill. The mini FAT, directory,
// FAT and DIFAT follow at finish(), and the header is written last, at
// offset 0. Every storage's children form a balanced red-black tree in the
// format's name order.
//
// After a failure every further call returns the same error.
class CompoundFileWriter {
public:
    using EntryId = std::uint32_t;
    static constexpr EntryId kRoot = 0;

    // Takes a stream's bytes, in pieces of any size.
    using Sink = std::function<pst::Result<void>(pst::Bytes)>;
    // Gives exactly the stream's size in bytes to the sink.
    using Producer = std::function<pst::Result<void>(const Sink&)>;

    explicit CompoundFileWriter(Output output);

    void setClsid(EntryId storage, const cfb::Clsid& clsid);
    // The creation and modification time (FILETIME) of every storage; the
    // root keeps a creation time of 0. Streams carry no times.
    void setStorageTime(std::uint64_t fileTime) { m_storageTime = fileTime; }

    pst::Result<EntryId> addStorage(EntryId parent, const QString& name);
    pst::Result<void> addStream(EntryId parent, const QString& name, std::uint64_t size, const Producer& produce);
    pst::Result<void> addStream(EntryId parent, const QString& name, pst::Bytes bytes);

    pst::Result<void> finish();

private:
    struct Entry {
        QString name;
        cfb::ObjectType type = cfb::ObjectType::Unused;
        cfb::Clsid clsid{};
        std::uint32_t start = cfb::EndOfChain;
        std::uint64_t size = 0;
        std::vector<EntryId> children;
        // Filled when the directory is written.
        std::uint32_t left = cfb::NoStream;
        std::uint32_t right = cfb::NoStream;
        std::uint32_t child = cfb::NoStream;
        cfb::Colour colour = cfb::Colour::Black;
    };

    pst::Result<EntryId> addEntry(EntryId parent, const QString& name, cfb::ObjectType type);
    pst::Result<void> writeOrdinaryStream(Entry& entry, std::uint64_t size, const Producer& produce);
    pst::Result<void> writeMiniStream(Entry& entry, std::uint64_t size, const Producer& produce);
    pst::Result<void> failed(pst::Error error);
    pst::Result<void> check() const;

    // Ordinary sectors, appended in order.
    std::uint32_t allocateSector();
    pst::Result<void> append(pst::Bytes bytes);
    pst::Result<void> padSector();
    pst::Result<void> flush();
    pst::Result<void> appendMiniStream(pst::Bytes bytes);
    pst::Result<void> flushMiniSector();
    pst::Result<std::uint32_t> appendTable(const std::vector<std::uint32_t>& values);

    void buildTree(EntryId storage);
    std::vector<std::uint8_t> directory() const;
    std::vector<std::uint8_t> header(std::uint32_t fatSectors, std::uint32_t firstDirectory,
                                     std::uint32_t firstMiniFat, std::uint32_t miniFatSectors,
                                     std::uint32_t firstDifat, std::uint32_t difatSectors) const;

    Output m_output;
    std::vector<Entry> m_entries;
    std::set<std::pair<EntryId, QString>> m_names; // parent and upper-cased name
    std::vector<std::uint32_t> m_fat;
    std::vector<std::uint32_t> m_miniFat;
    std::uint64_t m_miniSize = 0;                 // bytes of the mini stream, in whole mini sectors
    std::uint32_t m_lastMiniSector = cfb::EndOfChain; // last ordinary sector of the mini stream
    std::vector<std::uint8_t> m_miniSector;       // the mini stream's sector being filled
    std::vector<std::uint8_t> m_buffer;           // appended bytes not yet written
    std::uint64_t m_appended = 0;                 // bytes appended, header included
    std::uint64_t m_storageTime = 0;
    std::optional<pst::Error> m_error;
    bool m_busy = false;
    bool m_finished = false;
};

} // namespace parcelon::msg
