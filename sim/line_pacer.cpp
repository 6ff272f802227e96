#include "line_pacer.h"

#include <algorithm>

namespace sim {

namespace {

// Bytes that fall due closer together than this go out together: at 115200
// baud about eleven a write. A USB adapter hands bytes on in bursts of its
// own too (every millisecond or more).
constexpr std::chrono::milliseconds least_pause{1};

// Start, ten bits and stop: rounded up, so that no byte is ever early.
LinePacer::Clock::duration byte_time_of(int baud)
{
    const long long bit_ns_times_baud = 10LL * 1000 * 1000 * 1000;
    return std::chrono::nanoseconds((bit_ns_times_baud + baud - 1) / baud);
}

} // namespace

LinePacer::LinePacer(int baud, Writer write)
    : m_byte_time(byte_time_of(std::max(baud, 1))), m_write(std::move(write)),
      m_thread([this] { run(); })
{
}

LinePacer::~LinePacer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

LinePacer::Clock::time_point LinePacer::send(const QByteArray &bytes, Clock::time_point at)
{
    const std::lock_guard lock(m_mutex);
    const Clock::time_point start = std::max(at, m_line_free);
    m_line_free = start + m_byte_time * bytes.size();
    if (!bytes.isEmpty()) {
        m_queue.push_back({bytes, start});
        m_wake.notify_one();
    }
    return m_line_free;
}

void LinePacer::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (m_queue.empty()) {
            m_wake.wait(lock);
            continue;
        }
        if (write_due(lock, Clock::now())) {
            m_queue.pop_front();
            m_sent = 0;
            continue;
        }
        m_wake.wait_until(lock, next_wake(Clock::now()));
    }
}

bool LinePacer::write_due(std::unique_lock<std::mutex> &lock, Clock::time_point now)
{
    const Piece &piece = m_queue.front();
    const qsizetype due =
        now < piece.start
            ? 0
            : std::min<qsizetype>(piece.bytes.size(), qsizetype((now - piece.start) / m_byte_time));
    if (due > m_sent) {
        const QByteArray part = piece.bytes.mid(m_sent, due - m_sent);
        m_sent = due;
        // Only this thread removes pieces, so the first stays where it is.
        lock.unlock();
        m_write(part);
        lock.lock();
    }
    return m_sent == m_queue.front().bytes.size();
}

// When the next byte is due, but not sooner than least_pause from now, and
// the piece's end itself when that is less than least_pause later: its last
// byte is never held back, and a short tail costs no wake-up of its own.
LinePacer::Clock::time_point LinePacer::next_wake(Clock::time_point now) const
{
    const Piece &piece = m_queue.front();
    const Clock::time_point next = piece.start + m_byte_time * (m_sent + 1);
    const Clock::time_point last = piece.start + m_byte_time * piece.bytes.size();
    const Clock::time_point wake = std::max(next, now + least_pause);
    return last - wake < least_pause ? last : wake;
}

} // namespace sim
