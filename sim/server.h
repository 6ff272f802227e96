#pragma once

#include "line_pacer.h"
#include "rtu_slave.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace sim {

// A serial line's own time. Without a baud rate replies go out whole at once.
struct Pacing {
    int baud = 0;
    // Between the request's last byte and the reply's first.
    int turnaround_ms = 0;
};

// A line of standard error with the time of day, when verbose.
void log_line(bool verbose, const QString &text);
// The slave's trace on standard error when verbose, its warnings always.
void log_slave(RtuSlave &slave, bool verbose);

// Drives an RtuSlave from a byte stream: keeps the clock, ends frames on
// silence, sends replies with their delays and pauses, emits line noise.
class Server : public QObject {
public:
    // Called from the pacer's thread too when the line is paced.
    using Writer = std::function<bool(const QByteArray &)>;

    Server(RtuSlave &slave, Writer writer, bool verbose, const Pacing &pacing = {},
           QObject *parent = nullptr);

    void received(const QByteArray &bytes);
    void start_garbage(int interval_ms);
    void log(const QString &text) const { log_line(m_verbose, text); }

private:
    void send(const QList<Reply> &replies);
    void pace(const Reply &reply);
    void transmit(const QByteArray &bytes, const char *what = "tx");
    void write_out(const QByteArray &bytes) const;

    RtuSlave &m_slave;
    Writer m_write;
    bool m_verbose;
    int m_turnaround_ms;
    QElapsedTimer m_clock;
    // When the latest bytes came in: a request's last byte, for the turnaround.
    LinePacer::Clock::time_point m_last_rx;
    QTimer m_silence;
    QTimer m_garbage;
    // Last, so that its thread ends before what it writes through goes.
    std::unique_ptr<LinePacer> m_pacer;
};

} // namespace sim
