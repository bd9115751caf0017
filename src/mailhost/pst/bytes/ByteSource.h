#pragma once

#include "mailhost/pst/bytes/Error.h"

#include <QString>

#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <vector>

namespace parcelon::pst {

// Read-only random access to the bytes of a PST file. The engine never
// writes through it.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    virtual std::uint64_t size() const = 0;

    // Fills `buffer` with the bytes at `offset`; reading past the end is an
    // error (a structure that points outside the file is damaged).
    virtual Result<void> read(std::uint64_t offset, std::span<std::uint8_t> buffer) const = 0;

    // What the source is, for descriptions (the file's path).
    virtual const QString& name() const = 0;

    // Where its bytes lie, for errors: a file, or a value inside one.
    virtual Where where() const { return Where{name(), {}}; }

    // A second source of the same bytes, for a reader on another thread.
    virtual std::unique_ptr<ByteSource> duplicate() const = 0;

    // Fails when the bytes may no longer be those the source had when it
    // was opened (a file whose size or modification time has changed).
    virtual Result<void> unchanged() const { return {}; }
};

// A file opened read-only; reads with pread, so any number of readers may
// share it and nothing of it is mapped into memory.
class FileSource final : public ByteSource {
public:
    static Result<std::unique_ptr<FileSource>> open(const QString& path);
    ~FileSource() override;

    std::uint64_t size() const override { return m_size; }
    Result<void> read(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;
    const QString& name() const override { return m_path; }
    std::unique_ptr<ByteSource> duplicate() const override;
    Result<void> unchanged() const override;

private:
    FileSource(QString path, int fd, std::uint64_t size, const timespec& modified);

    QString m_path;
    int m_fd;
    std::uint64_t m_size;
    timespec m_modified;
};

// Bytes held in memory (for tests and the fuzzer).
class MemorySource final : public ByteSource {
public:
    MemorySource(std::vector<std::uint8_t> bytes, QString name);

    std::uint64_t size() const override { return m_bytes->size(); }
    Result<void> read(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;
    const QString& name() const override { return m_name; }
    std::unique_ptr<ByteSource> duplicate() const override;

private:
    MemorySource(std::shared_ptr<const std::vector<std::uint8_t>> bytes, QString name);

    std::shared_ptr<const std::vector<std::uint8_t>> m_bytes;
    QString m_name;
};

} // namespace parcelon::pst
