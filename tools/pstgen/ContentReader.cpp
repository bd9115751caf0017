#include "pstgen/ContentReader.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cstring>

namespace parcelon::pstgen {

namespace {

class BytesReader final : public ContentReader {
public:
    explicit BytesReader(QByteArray bytes) : ContentReader(std::uint64_t(bytes.size())), m_bytes(std::move(bytes)) {}

protected:
    pst::Result<void> produce(std::span<std::uint8_t> buffer) override
    {
        std::memcpy(buffer.data(), m_bytes.constData() + m_offset, buffer.size());
        m_offset += qsizetype(buffer.size());
        return {};
    }

private:
    QByteArray m_bytes;
    qsizetype m_offset = 0;
};

class FileReader final : public ContentReader {
public:
    FileReader(std::unique_ptr<QFile> file, std::uint64_t size) : ContentReader(size), m_file(std::move(file)) {}

protected:
    pst::Result<void> produce(std::span<std::uint8_t> buffer) override
    {
        std::size_t done = 0;
        while (done < buffer.size()) {
            const qint64 n = m_file->read(reinterpret_cast<char*>(buffer.data() + done), qint64(buffer.size() - done));
            if (n <= 0)
                return pst::Error(pst::ErrorKind::Io,
                                  QStringLiteral("cannot read %1: %2")
                                      .arg(m_file->fileName(),
                                           n == 0 ? QStringLiteral("the file became shorter while it was read")
                                                  : m_file->errorString()));
            done += std::size_t(n);
        }
        return {};
    }

private:
    std::unique_ptr<QFile> m_file;
};

// Uniform random bytes.
class BinaryReader final : public ContentReader {
public:
    BinaryReader(std::uint64_t seed, std::uint64_t size) : ContentReader(size), m_random(seed) {}

protected:
    pst::Result<void> produce(std::span<std::uint8_t> buffer) override
    {
        // Whole 8-byte steps keep the stream independent of how it is cut.
        std::size_t i = 0;
        while (i < buffer.size()) {
            if (m_pending == 0) {
                const std::uint64_t v = m_random.next();
                for (int k = 0; k < 8; ++k)
                    m_word[std::size_t(k)] = std::uint8_t(v >> (8 * k));
                m_pending = 8;
            }
            const std::size_t n = std::min<std::size_t>(m_pending, buffer.size() - i);
            std::memcpy(buffer.data() + i, m_word.data() + (8 - m_pending), n);
            m_pending -= n;
            i += n;
        }
        return {};
    }

private:
    SeededRandom m_random;
    std::array<std::uint8_t, 8> m_word{};
    std::size_t m_pending = 0;
};

// Lines of pseudo words: text that compresses like ordinary documents.
class TextReader final : public ContentReader {
public:
    TextReader(std::uint64_t seed, std::uint64_t size) : ContentReader(size), m_random(seed) {}

protected:
    pst::Result<void> produce(std::span<std::uint8_t> buffer) override
    {
        static constexpr const char* kWords[] = {
            "the",     "report", "of",     "quarter", "and",     "meeting", "budget", "to",      "project",
            "in",      "a",      "review", "with",    "team",    "figures", "for",    "plan",    "next",
            "is",      "offer",  "sales",  "draft",   "on",      "summary", "notes",  "account", "by",
            "invoice", "office", "client", "agenda",  "results", "update",  "total",
        };
        std::size_t i = 0;
        while (i < buffer.size()) {
            if (m_pos == m_line.size())
                nextLine(kWords, std::size(kWords));
            const std::size_t n = std::min(m_line.size() - m_pos, buffer.size() - i);
            std::memcpy(buffer.data() + i, m_line.data() + m_pos, n);
            m_pos += n;
            i += n;
        }
        return {};
    }

private:
    void nextLine(const char* const* words, std::size_t count)
    {
        m_line.clear();
        m_pos = 0;
        const std::uint64_t n = m_random.between(6, 14);
        for (std::uint64_t w = 0; w < n; ++w) {
            const char* word = words[m_random.between(0, count - 1)];
            m_line.append(word);
            m_line.push_back(w + 1 == n ? '.' : ' ');
        }
        m_line.push_back('\n');
    }

    SeededRandom m_random;
    std::string m_line;
    std::size_t m_pos = 0;
};

} // namespace

pst::Result<std::unique_ptr<ContentReader>> ContentReader::open(const Content& content, std::uint64_t key)
{
    switch (content.source) {
    case Content::Source::Bytes:
        return std::unique_ptr<ContentReader>(new BytesReader(content.bytes));
    case Content::Source::File: {
        auto file = std::make_unique<QFile>(content.path);
        if (!QFileInfo(content.path).isFile())
            return pst::Error(pst::ErrorKind::Io, QStringLiteral("%1 is not a readable file").arg(content.path));
        if (!file->open(QIODevice::ReadOnly))
            return pst::Error(pst::ErrorKind::Io, QStringLiteral("cannot open %1: %2").arg(content.path, file->errorString()));
        const auto size = std::uint64_t(file->size());
        return std::unique_ptr<ContentReader>(new FileReader(std::move(file), size));
    }
    case Content::Source::Random: {
        SeededRandom sizes(SeededRandom::mix({content.seed, key, 'S'}));
        const std::uint64_t size = sizes.between(content.size.min, content.size.max);
        const std::uint64_t seed = SeededRandom::mix({content.seed, key});
        if (content.style == Content::Style::Text)
            return std::unique_ptr<ContentReader>(new TextReader(seed, size));
        return std::unique_ptr<ContentReader>(new BinaryReader(seed, size));
    }
    }
    return pst::Error(pst::ErrorKind::Unsupported, QStringLiteral("unknown content source"));
}

pst::Result<void> ContentReader::read(std::span<std::uint8_t> buffer)
{
    if (buffer.size() > remaining())
        return pst::Error(pst::ErrorKind::Io, QStringLiteral("read past the end of an attachment's content"));
    auto result = produce(buffer);
    if (result)
        m_done += buffer.size();
    return result;
}

} // namespace parcelon::pstgen
