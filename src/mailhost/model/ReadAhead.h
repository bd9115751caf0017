#pragma once

#include "mailhost/pst/bytes/Error.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace parcelon::mailhost {

// Runs a producer of pieces on a thread of its own, one piece ahead of the
// caller that takes them, so that reading a large value and writing it
// overlap. The thread is joined before the object goes, whatever happened.
class ReadAhead {
public:
    // `produce` replaces its argument with the next piece; an empty piece
    // ends the stream.
    using Producer = std::function<pst::Result<void>(std::vector<std::uint8_t>&)>;

    explicit ReadAhead(Producer produce);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Hands over the next piece (empty at the end), or the producer's error.
    pst::Result<void> take(std::vector<std::uint8_t>& piece);

private:
    void run();

    Producer m_produce;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::uint8_t> m_ready;
    bool m_full = false;
    bool m_stop = false;
    std::optional<pst::Error> m_error;
    std::thread m_thread;
};

} // namespace parcelon::mailhost
