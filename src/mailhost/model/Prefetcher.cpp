#include "mailhost/model/Prefetcher.h"

#include "mailhost/model/ItemClass.h"
#include "mailhost/pst/messaging/Message.h"
#include "mailhost/pst/messaging/PropertyIds.h"

#include <algorithm>
#include <bit>

namespace parcelon::mailhost {

namespace {

// How far ahead to read, and the largest value worth holding in memory.
constexpr std::size_t kAheadBytes = 3 * 1024 * 1024;
constexpr std::uint64_t kLargestValue = 2 * 1024 * 1024 + 64 * 1024;
// Memory kept from values written, for the next ones.
constexpr std::size_t kSpareBytes = 1024 * 1024;
constexpr std::size_t kSmallestRoom = 64 * 1024;

bool readable(int method)
{
    return method == pst::AttachMethod::None || method == pst::AttachMethod::ByValue || method == pst::AttachMethod::Storage;
}

} // namespace

Prefetcher::Prefetcher(std::shared_ptr<const pst::Store> store) : m_store(std::move(store)), m_thread([this] { run(); })
{
}

Prefetcher::~Prefetcher()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void Prefetcher::follow(std::vector<pst::Nid> messages)
{
    {
        std::lock_guard lock(m_mutex);
        m_messages = std::move(messages);
        m_next = 0;
        ++m_generation;
        m_ready.clear();
        m_readyBytes = 0;
    }
    m_changed.notify_all();
}

void Prefetcher::reached(std::size_t position)
{
    {
        std::lock_guard lock(m_mutex);
        while (!m_ready.empty() && m_ready.front().position < position) {
            m_readyBytes -= m_ready.front().bytes.capacity();
            m_ready.pop_front();
        }
        // An item the thread has not begun is read by the walk itself.
        const bool reading = m_reading && position < m_messages.size() && *m_reading == m_messages[position];
        if (m_next <= position && !reading)
            m_next = position + 1;
    }
    m_changed.notify_all();
}

std::optional<pst::ByteBuffer> Prefetcher::take(pst::Nid message, pst::Nid attachment)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto found = std::find_if(m_ready.begin(), m_ready.end(),
                                        [&](const Content& c) { return c.message == message && c.attachment == attachment; });
        if (found != m_ready.end()) {
            pst::ByteBuffer bytes = std::move(found->bytes);
            m_readyBytes -= bytes.capacity();
            m_ready.erase(found);
            lock.unlock();
            m_changed.notify_all();
            return bytes;
        }
        if (m_reading != message)
            return std::nullopt;
        m_changed.wait(lock);
    }
}

void Prefetcher::recycle(pst::ByteBuffer bytes)
{
    const std::size_t room = bytes.capacity();
    if (room < kSmallestRoom || !std::has_single_bit(room) || room > kSpareBytes)
        return;
    const std::lock_guard lock(m_mutex);
    // The newest are kept: they fit what is read now.
    while (m_spareBytes + room > kSpareBytes) {
        m_spareBytes -= m_spare.front().capacity();
        m_spare.erase(m_spare.begin());
    }
    m_spareBytes += room;
    m_spare.push_back(std::move(bytes));
}

pst::ByteBuffer Prefetcher::spare(std::size_t room)
{
    const std::lock_guard lock(m_mutex);
    const auto found =
        std::find_if(m_spare.begin(), m_spare.end(), [room](const pst::ByteBuffer& b) { return b.capacity() == room; });
    if (found == m_spare.end())
        return {};
    pst::ByteBuffer bytes = std::move(*found);
    m_spare.erase(found);
    m_spareBytes -= bytes.capacity();
    return bytes;
}

void Prefetcher::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || (m_next < m_messages.size() && m_readyBytes < kAheadBytes); });
        if (m_stop)
            return;
        const std::size_t position = m_next++;
        const pst::Nid message = m_messages[position];
        const std::uint64_t generation = m_generation;
        m_reading = message;
        lock.unlock();
        std::vector<Content> contents = readMessage(position, message);
        lock.lock();
        m_reading.reset();
        if (generation == m_generation) {
            for (Content& content : contents) {
                m_readyBytes += content.bytes.capacity();
                m_ready.push_back(std::move(content));
            }
        }
        m_changed.notify_all();
    }
}

std::vector<Prefetcher::Content> Prefetcher::readMessage(std::size_t position, pst::Nid message)
{
    std::vector<Content> contents;
    auto node = m_store->node(message);
    if (!node)
        return contents;
    auto opened = pst::Message::open(*m_store, *node, QString());
    if (!opened || itemClassOf(opened->messageClass()) != kMailItemClass)
        return contents;
    auto ids = opened->attachmentIds();
    if (!ids)
        return contents;
    std::size_t held = 0;
    for (pst::Nid id : *ids) {
        auto attachment = opened->attachment(id, QString());
        if (!attachment || !readable(attachment->method()))
            continue;
        pst::Result<pst::ValueLocation> value = pst::ValueLocation{};
        if (attachment->method() == pst::AttachMethod::Storage) {
            auto storage = attachment->storage();
            if (!storage)
                continue;
            value->tree = std::move(storage).value();
        } else {
            value = attachment->content();
        }
        if (!value || value->size() > kLargestValue || held + value->size() > kAheadBytes)
            continue;
        Content content{position, message, id, {}};
        if (value->tree) {
            // Sizes in classes of powers of two let memory written out
            // serve the next attachments.
            const std::size_t room = std::bit_ceil(std::max(value->tree->storedSize(m_store->blocks()), kSmallestRoom));
            content.bytes = spare(room);
            content.bytes.reserve(room);
            if (!value->tree->readAll(m_store->blocks(), kLargestValue, content.bytes))
                continue;
        } else {
            content.bytes.assign(value->heapBytes.begin(), value->heapBytes.end());
        }
        held += content.bytes.size();
        contents.push_back(std::move(content));
    }
    return contents;
}

} // namespace parcelon::mailhost
