#pragma once

#include "mailhost/msg/CompoundFile.h"
#include "mailhost/pst/bytes/ByteSource.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace parcelon::msg {

// Reads a compound file (versions 3 and 4). Opening checks the structure
// before anything is read through it: the header, that the DIFAT, FAT, mini
// FAT and directory chains end inside the file, that no sector or mini
// sector belongs to two chains, that every stream's chain has the length its
// size needs, and that the directory's trees reach every entry at most once.
class CompoundFileReader {
public:
    using EntryId = std::uint32_t;

    struct Header {
        cfb::Clsid clsid{};
        std::uint16_t minorVersion = 0;
        std::uint16_t majorVersion = 0;
        std::uint16_t byteOrder = 0;
        std::uint16_t sectorShift = 0;
        std::uint16_t miniSectorShift = 0;
        std::uint32_t directorySectors = 0;
        std::uint32_t fatSectors = 0;
        std::uint32_t firstDirectorySector = 0;
        std::uint32_t transactionSignature = 0;
        std::uint32_t miniStreamCutoff = 0;
        std::uint32_t firstMiniFatSector = 0;
        std::uint32_t miniFatSectors = 0;
        std::uint32_t firstDifatSector = 0;
        std::uint32_t difatSectors = 0;
        std::vector<std::uint32_t> difat; // the 109 slots of the header
    };

    struct Entry {
        QString name;
        std::uint16_t nameLength = 0; // bytes, terminator included
        cfb::ObjectType type = cfb::ObjectType::Unused;
        cfb::Colour colour = cfb::Colour::Black;
        std::uint32_t left = cfb::NoStream;
        std::uint32_t right = cfb::NoStream;
        std::uint32_t child = cfb::NoStream;
        cfb::Clsid clsid{};
        std::uint32_t stateBits = 0;
        std::uint64_t created = 0;
        std::uint64_t modified = 0;
        std::uint32_t start = 0;
        std::uint64_t size = 0;        // version 3: the low 32 bits only
        std::vector<std::uint8_t> raw; // the entry's 128 bytes
    };

    static pst::Result<CompoundFileReader> open(const pst::ByteSource& source);

    const Header& header() const { return m_header; }
    std::uint32_t sectorSize() const { return m_sectorSize; }
    std::uint64_t sectorCount() const { return m_sectorCount; } // sectors the file holds

    const std::vector<std::uint32_t>& fat() const { return m_fat; }
    const std::vector<std::uint32_t>& miniFat() const { return m_miniFat; }
    const std::vector<std::uint32_t>& fatSectorNumbers() const { return m_fatSectors; }
    const std::vector<std::uint32_t>& difatSectorNumbers() const { return m_difatSectors; }
    const std::vector<std::uint32_t>& miniFatChain() const { return m_miniFatChain; }
    const std::vector<std::uint32_t>& directoryChain() const { return m_directoryChain; }

    const std::vector<Entry>& entries() const { return m_entries; }
    const Entry& entry(EntryId id) const { return m_entries[id]; }

    // The children of a storage in tree order (sorted when the tree is).
    const std::vector<EntryId>& children(EntryId storage) const { return m_children[storage]; }
    std::optional<EntryId> find(EntryId storage, const QString& name) const;
    // The parent of an entry reached from the root; NoStream otherwise.
    std::uint32_t parent(EntryId id) const { return m_parents[id]; }

    // The sectors (mini sectors for a stream in the mini stream) of an entry.
    const std::vector<std::uint32_t>& chain(EntryId id) const { return m_chains[id]; }
    bool inMiniStream(EntryId id) const;

    // A stream's bytes, in pieces of at most one sector, or all at once.
    pst::Result<void> read(EntryId stream, const std::function<pst::Result<void>(pst::Bytes)>& sink) const;
    pst::Result<std::vector<std::uint8_t>> readAll(EntryId stream, std::uint64_t limit) const;

private:
    explicit CompoundFileReader(const pst::ByteSource& source) : m_source(&source) {}

    pst::Error damaged(const QString& reason) const;
    pst::Result<void> readHeader();
    pst::Result<void> readFat();
    pst::Result<std::vector<std::uint32_t>> followChain(std::uint32_t start, const std::vector<std::uint32_t>& table,
                                                        std::vector<bool>& used, std::uint64_t limit, const QString& what) const;
    pst::Result<void> readDirectory();
    pst::Result<void> walkTrees();
    pst::Result<void> readSector(std::uint32_t sector, std::vector<std::uint8_t>& out) const;

    const pst::ByteSource* m_source;
    Header m_header;
    std::uint32_t m_sectorSize = 0;
    std::uint64_t m_sectorCount = 0;
    std::vector<std::uint32_t> m_fat;
    std::vector<std::uint32_t> m_miniFat;
    std::vector<std::uint32_t> m_fatSectors;
    std::vector<std::uint32_t> m_difatSectors;
    std::vector<std::uint32_t> m_miniFatChain;
    std::vector<std::uint32_t> m_directoryChain;
    std::vector<bool> m_usedSectors;
    std::vector<Entry> m_entries;
    std::vector<std::vector<EntryId>> m_children;
    std::vector<std::uint32_t> m_parents;
    std::vector<std::vector<std::uint32_t>> m_chains;
};

} // namespace parcelon::msg
