#pragma once

#include "mailhost/msg/CompoundFile.h"
#include "mailhost/msg/Output.h"

#include <QString>

#include <array>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace parcelon::msg {

// Writes a compound file (version 3): storages and streams added one by
// one, each stream's bytes written to the output as they come. Streams of
// 4096 bytes or more take ordinary sectors; smaller ones go to the mini
// stream, whose sectors are written as they fill. The mini FAT, directory,
// FAT and DIFAT follow at finish(), and the header is written last, at
// offset 0. Every storage's children form a balanced red-black tree in the
// format's name order. Memory grows with the number of entries, not with
// the bytes of their streams: the FAT and mini FAT are kept as runs of
// chained sectors and written out a sector at a time, as is the directory.
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
    // Sector numbers of a FAT or mini FAT, kept as runs: each run is a
    // stretch of sectors that each lead to the next, the last holding `end`,
    // or (not chained) a stretch whose sectors all hold `end`.
    class ChainTable {
    public:
        std::uint32_t size() const { return m_size; }
        bool empty() const { return m_size == 0; }
        // Appends a chain of `count` sectors that ends in `end`; returns its first.
        std::uint32_t appendChain(std::uint32_t count, std::uint32_t end);
        void appendSame(std::uint32_t count, std::uint32_t value);
        // Sets what the last sector of a chain leads to.
        void setEnd(std::uint32_t sector, std::uint32_t end);
        // Every value in order, as the bytes of whole table sectors.
        pst::Result<void> write(const std::function<pst::Result<void>(pst::Bytes)>& sink) const;

    private:
        struct Run {
            std::uint32_t first;
            std::uint32_t count;
            std::uint32_t end;
            bool chained;
        };
        std::vector<Run> m_runs;
        std::uint32_t m_size = 0;
    };

    struct Entry {
        std::array<char16_t, cfb::kMaxNameLength> name{};
        std::uint8_t nameLength = 0;
        cfb::ObjectType type = cfb::ObjectType::Unused;
        cfb::Clsid clsid{};
        std::uint32_t start = cfb::EndOfChain;
        std::uint64_t size = 0;
        EntryId parent = 0;
        std::vector<EntryId> children;
        // Filled when the directory is written.
        std::uint32_t left = cfb::NoStream;
        std::uint32_t right = cfb::NoStream;
        std::uint32_t child = cfb::NoStream;
        cfb::Colour colour = cfb::Colour::Black;
    };

    pst::Result<EntryId> addEntry(EntryId parent, const QString& name, cfb::ObjectType type);
    pst::Result<void> writeOrdinaryStream(EntryId id, std::uint64_t size, const Producer& produce);
    pst::Result<void> writeMiniStream(EntryId id, std::uint64_t size, const Producer& produce);
    pst::Result<void> failed(pst::Error error);
    pst::Result<void> check() const;

    // Ordinary sectors, appended in order.
    std::uint32_t allocateSector();
    pst::Result<void> append(pst::Bytes bytes);
    pst::Result<void> padSector();
    pst::Result<void> flush();
    pst::Result<void> appendMiniStream(pst::Bytes bytes);
    pst::Result<void> flushMiniSector();
    pst::Result<std::uint32_t> appendTable(const ChainTable& table);

    QString nameOf(EntryId id) const;
    void buildTree(EntryId storage);
    pst::Result<void> writeDirectory();
    std::vector<std::uint8_t> header(std::uint32_t fatSectors, std::uint32_t firstDirectory, std::uint32_t firstMiniFat,
                                     std::uint32_t miniFatSectors, std::uint32_t firstDifat, std::uint32_t difatSectors) const;

    Output m_output;
    std::deque<Entry> m_entries;                           // grows without copying what it holds
    std::unordered_multimap<std::size_t, EntryId> m_names; // entries by hash of parent and upper-cased name
    ChainTable m_fat;
    ChainTable m_miniFat;
    std::uint64_t m_miniSize = 0;                     // bytes of the mini stream, in whole mini sectors
    std::uint32_t m_lastMiniSector = cfb::EndOfChain; // last ordinary sector of the mini stream
    std::vector<std::uint8_t> m_miniSector;           // the mini stream's sector being filled
    std::vector<std::uint8_t> m_buffer;               // appended bytes not yet written
    std::uint64_t m_appended = 0;                     // bytes appended, header included
    std::uint64_t m_storageTime = 0;
    std::optional<pst::Error> m_error;
    bool m_busy = false;
    bool m_finished = false;
};

} // namespace parcelon::msg
