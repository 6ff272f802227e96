#pragma once
// In-memory serial port for tests: which numbers open is configured per
// number, received bytes are fed in by the test, written frames are recorded.

#include "serial_port.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <map>

class FakeSerialPort : public SerialPort {
public:
    // Result of open() per port number; numbers not listed are NotAvailable.
    std::map<int, PortError> open_result;
    // Bytes the "device" has sent and the program has not yet read.
    QByteArray incoming;
    // Every frame written while open, in order.
    QList<QByteArray> written;
    // Port numbers in the order open() was attempted.
    QList<int> open_attempts;
    // What last_byte_ms() reports.
    qint64 last_byte = 0;
    // When set, answers every frame written: its result is added to incoming,
    // as a controller's reply that is complete by the next tick.
    std::function<QByteArray(const QByteArray &frame)> responder;

    void make_free(std::initializer_list<int> numbers);
    // The device goes away under the open port: it closes itself, as a pulled
    // adapter does, and what was waiting is gone.
    void lose();

    PortError set_port_number(int n) override;
    int port_number() const override { return m_number; }
    QString device_name(int n) const override;
    PortError open() override;
    void close() override;
    bool is_open() const override { return m_open; }
    bool lost() const override { return m_lost; }
    int bytes_waiting() override;
    uint8_t read_byte() override;
    void write_frame(std::span<const uint8_t> frame) override;
    qint64 last_byte_ms() const override { return last_byte; }
    // Nothing arrives while a test waits: only what is already in incoming.
    bool wait_for_bytes(int) override { return bytes_waiting() > 0; }
    // A reply from the responder is announced from the event loop, as a
    // real port announces what came in.
    bool set_ready_handler(std::function<void()> handler) override
    {
        m_ready = std::move(handler);
        return true;
    }

private:
    int m_number = 1;
    bool m_open = false;
    bool m_lost = false;
    std::function<void()> m_ready;
};
