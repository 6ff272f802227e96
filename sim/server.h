#pragma once

#include "rtu_slave.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace sim {

// Drives an RtuSlave from a byte stream: keeps the clock, ends frames on
// silence, sends replies with their delays and pauses, emits line noise.
class Server : public QObject {
public:
    using Writer = std::function<bool(const QByteArray &)>;

    Server(RtuSlave &slave, Writer writer, bool verbose, QObject *parent = nullptr);

    void received(const QByteArray &bytes);
    void startGarbage(int intervalMs);
    void log(const QString &text) const;

private:
    void send(const QList<Reply> &replies);
    void transmit(const QByteArray &bytes, const char *what = "tx");

    RtuSlave &m_slave;
    Writer m_write;
    bool m_verbose;
    QElapsedTimer m_clock;
    QTimer m_silence;
    QTimer m_garbage;
};

} // namespace sim
