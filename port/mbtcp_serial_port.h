#pragma once
// A Modbus TCP device or gateway, "mbtcp://HOST[:PORT]" (port 502 unless
// named), seen as a serial line. Each RTU frame written goes out as an MBAP
// frame of a transaction of its own, the frame's address as the unit id and
// its CRC left off; the answer to the latest transaction comes back as the
// RTU frame the controller would have sent, CRC and all, so that the master
// judges it as it judges a serial reply. The connection, its reconnect and
// its messages are those of tcp://.

#include "mbap_reader.h"
#include "serial_port.h"
#include "tcp_serial_port.h"

#include <QByteArray>

// Whether a device name asks for Modbus TCP.
bool is_mbtcp_device(const QString &device);

class MbtcpSerialPort : public SerialPort {
public:
    MbtcpSerialPort();

    PortError set_device(const QString &device) override { return m_stream.set_device(device); }
    // There are no numbered ports here: the device name is the address.
    PortError set_port_number(int) override { return PortError::BadNumber; }
    int port_number() const override { return 0; }
    QString device_name(int) const override { return {}; }

    PortError open() override;
    void close() override;
    bool is_open() const override { return m_stream.is_open(); }
    bool lost() const override { return m_stream.lost(); }
    int bytes_waiting() override;
    uint8_t read_byte() override;
    int discard_waiting() override;
    // Answers to earlier transactions, second answers to the latest, and
    // everything held when the stream broke its framing.
    int take_dropped() override;
    void write_frame(std::span<const uint8_t> frame) override;
    bool wait_for_bytes(int ms) override;
    qint64 last_byte_ms() const override { return m_last_byte_ms; }
    QString open_error_text() const override { return m_stream.open_error_text(); }
    bool set_ready_handler(std::function<void()> handler) override
    {
        return m_stream.set_ready_handler(std::move(handler));
    }

private:
    // Turns what has come in into RTU bytes; frames not wanted are dropped.
    void take_in();
    void forget();
    void distrust();

    // Last request's transaction; an answer is taken only to it.
    quint16 m_transaction = 0;
    MbapReader m_reader;
    // The RTU frame of the answer, handed out from m_rtu_at on.
    QByteArray m_rtu;
    qsizetype m_rtu_at = 0;
    int m_dropped = 0;
    qint64 m_last_byte_ms = 0;
    TcpSerialPort m_stream;
};
