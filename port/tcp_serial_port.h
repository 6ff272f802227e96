#pragma once
// The serial port of a serial device server: the same RTU frames, byte for
// byte, over a TCP connection to "tcp://HOST:PORT". The server puts them on
// its RS-485 line at the line's own settings. A connection the server or the
// network drops is a lost port, as an adapter pulled out is. Modbus TCP
// (MbtcpSerialPort) frames its stream over the same connection.

#include "serial_port.h"

#include <QElapsedTimer>
#include <QString>
#include <QTcpSocket>

// Whether a device name asks for a serial device server.
bool is_tcp_device(const QString &device);

class TcpSerialPort : public SerialPort {
public:
    // default_port: the server's port when the name gives none (0: it must);
    // form: the name's form as messages spell it.
    explicit TcpSerialPort(quint16 default_port = 0,
                           QString form = QStringLiteral("tcp://УЗЕЛ:ПОРТ"));

    // The server the next open connects to; a malformed name fails there.
    PortError set_device(const QString &device) override;

    // There are no numbered ports here: the device name is the address.
    PortError set_port_number(int) override { return PortError::BadNumber; }
    int port_number() const override { return 0; }
    QString device_name(int) const override { return {}; }

    PortError open() override;
    void close() override;
    bool is_open() const override;
    bool lost() const override;
    int bytes_waiting() override;
    uint8_t read_byte() override;
    int discard_waiting() override;
    bool set_ready_handler(std::function<void()> handler) override;
    void write_frame(std::span<const uint8_t> frame) override;
    bool wait_for_bytes(int ms) override;
    qint64 last_byte_ms() const override { return m_last_byte_ms; }

    // Why the last open failed, in words: refused, host not found, no answer.
    QString open_error_text() const override { return m_error_text; }

    // Everything received that is waiting now, without waiting for more.
    QByteArray read_all();
    // Ends a connection whose stream can no longer be trusted; the port is
    // then lost, as when the server drops it, and the owner reconnects.
    void drop_connection();

private:
    PortError fail(const QString &text);
    QString connect_error_text() const;
    // Closes a connection that dropped; true while it is up.
    bool still_open();
    void take_in_received();

    const quint16 m_default_port;
    const QString m_form;
    QString m_device;
    QString m_host;
    quint16 m_port = 0;
    QString m_error_text;
    // Since the last attempt that got no answer at all.
    QElapsedTimer m_silent_since;
    qint64 m_last_byte_ms = 0;
    std::function<void()> m_ready;
    // Opened by the owner and not closed since: the connection going down
    // meanwhile is a loss.
    bool m_open = false;
    // Last, so it is destroyed first.
    QTcpSocket m_socket;
};
