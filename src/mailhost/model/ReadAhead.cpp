#include "mailhost/model/ReadAhead.h"

namespace parcelon::mailhost {

ReadAhead::ReadAhead(Producer produce) : m_produce(std::move(produce)), m_thread([this] { run(); })
{
}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ReadAhead::run()
{
    std::vector<std::uint8_t> piece;
    for (;;) {
        auto produced = m_produce(piece);
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_full || m_stop; });
        if (m_stop)
            return;
        if (!produced)
            m_error = produced.error();
        else
            m_ready.swap(piece);
        m_full = true;
        const bool last = !produced || m_ready.empty();
        lock.unlock();
        m_changed.notify_all();
        if (last)
            return;
    }
}

pst::Result<void> ReadAhead::take(std::vector<std::uint8_t>& piece)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_full; });
    if (m_error)
        return *m_error;
    piece.swap(m_ready);
    m_full = false;
    lock.unlock();
    m_changed.notify_all();
    return {};
}

} // namespace parcelon::mailhost
