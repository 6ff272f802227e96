#pragma once

#include <QByteArray>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace sim {

// The time a serial line takes: bytes go out at the pace of a baud rate, 8N1
// (ten bits a byte), one piece after another, never two at once. A thread of
// its own writes each byte once its stop bit would have ended, a few at a
// time as they fall due, so that a reply of 25 bytes at 115200 baud ends
// 2.2 ms after it began and a line of controllers answering back to back
// costs a handful of wake-ups a reply.
class LinePacer {
public:
    using Clock = std::chrono::steady_clock;
    // Called on the pacer's own thread.
    using Writer = std::function<void(const QByteArray &)>;

    LinePacer(int baud, Writer write);
    // Bytes still on their way are dropped, as a line switched off drops them.
    ~LinePacer();
    LinePacer(const LinePacer &) = delete;
    LinePacer &operator=(const LinePacer &) = delete;

    // Puts bytes on the line from at, or once what is queued before them is
    // out; returns when their last byte will have arrived.
    Clock::time_point send(const QByteArray &bytes, Clock::time_point at);

private:
    struct Piece {
        QByteArray bytes;
        Clock::time_point start;
    };

    void run();
    // Writes what of the first piece is due at now; true when all of it is out.
    bool write_due(std::unique_lock<std::mutex> &lock, Clock::time_point now);
    Clock::time_point next_wake(Clock::time_point now) const;

    const Clock::duration m_byte_time;
    const Writer m_write;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Piece> m_queue;
    qsizetype m_sent = 0; // of the first piece
    Clock::time_point m_line_free;
    bool m_stop = false;
    // Last, so that it starts once everything it uses is there.
    std::thread m_thread;
};

} // namespace sim
