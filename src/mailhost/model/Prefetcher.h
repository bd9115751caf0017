#pragma once

#include "mailhost/pst/messaging/Store.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace parcelon::mailhost {

// Reads the content of attachments ahead of the walk, on a thread of its
// own, so that reading and decoding the next attachments overlaps writing
// the current one. It follows the items of the folder the walk is in: the
// attachments of mail messages after the one last asked for, up to a few
// megabytes ahead. It reads through a store of its own over the same file
// (nothing of the walk's store is shared between threads). Anything it could
// not read ahead, or read wrongly, is simply read again by the walk.
class Prefetcher {
public:
    explicit Prefetcher(std::shared_ptr<const pst::Store> store);
    ~Prefetcher();
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // The items of the folder the walk reads now, in order.
    void follow(std::vector<pst::Nid> messages);

    // The walk has come to item `position` (from 0) of those.
    void reached(std::size_t position);

    // The content of an attachment of a message, when it was read ahead
    // (waits while it is being read); nothing otherwise.
    std::optional<pst::ByteBuffer> take(pst::Nid message, pst::Nid attachment);

    // Hands back what take() gave, once written, so that its memory holds
    // the next attachment read ahead.
    void recycle(pst::ByteBuffer bytes);

private:
    struct Content {
        std::size_t position = 0;
        pst::Nid message = 0;
        pst::Nid attachment = 0;
        pst::ByteBuffer bytes;
    };

    void run();
    std::vector<Content> readMessage(std::size_t position, pst::Nid message);
    pst::ByteBuffer spare(std::size_t room);

    std::shared_ptr<const pst::Store> m_store;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<pst::Nid> m_messages;
    std::size_t m_next = 0;
    std::uint64_t m_generation = 0;
    std::optional<pst::Nid> m_reading;
    std::deque<Content> m_ready;
    std::size_t m_readyBytes = 0; // the memory the ready contents hold
    std::vector<pst::ByteBuffer> m_spare;
    std::size_t m_spareBytes = 0;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace parcelon::mailhost
