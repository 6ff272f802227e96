#pragma once
// The serial port over QSerialPort, always 115200 baud, 8N1, no flow control,
// or over a TCP connection when the device is a serial device server named
// "tcp://HOST:PORT" or a Modbus TCP device or gateway named
// "mbtcp://HOST[:PORT]"; which serves is decided at every open. On
// Windows a serial device is served by WinSerialPort instead of QSerialPort. The
// device of a port number is looked up each time the number is set, so an
// edited "Ports" entry takes effect without a restart.

#include "serial_port.h"

#include <QSerialPort>
#include <QString>

#include <memory>

class MbtcpSerialPort;
class TcpSerialPort;
class WinSerialPort;

class QtSerialPort : public SerialPort {
public:
    explicit QtSerialPort(QString ini_path);
    ~QtSerialPort() override;

    PortError set_port_number(int n) override;
    PortError set_device(const QString &device) override;
    int port_number() const override { return m_number; }
    QString device_name(int n) const override;
    PortError open() override;
    void close() override;
    bool is_open() const override;
    bool lost() const override;
    int bytes_waiting() override;
    uint8_t read_byte() override;
    int discard_waiting() override;
    int take_dropped() override;
    void write_frame(std::span<const uint8_t> frame) override;
    qint64 last_byte_ms() const override;
    bool wait_for_bytes(int ms) override;
    QString open_error_text() const override;
    bool set_ready_handler(std::function<void()> handler) override;

private:
    // The port the device name asks for when QSerialPort does not serve it;
    // the previous choice is closed.
    void choose_backend();
    void on_error(QSerialPort::SerialPortError error);
    // Closes a port whose device went away; true when the port is open.
    bool still_open();
    // Whether the device behind the open port has really gone (the tty was
    // hung up). Windows gives no such answer: there every error counts.
    bool hung_up() const;
    void take_in_received();
    // What a refused open means; a lock file behind it is named in m_open_error.
    PortError open_failure(QSerialPort::SerialPortError error);

    QString m_ini_path;
    // Before m_device, which the constructor maps from it.
    int m_number = first_port_number;
    QString m_device;
    qint64 m_last_byte_ms = 0;
    std::function<void()> m_ready;
    QString m_open_error;
    // The device went away while open; the port is closed at the next chance
    // that is not inside a QSerialPort call, and the flag stays until the
    // owner opens or closes the port.
    bool m_lost = false;
    std::unique_ptr<TcpSerialPort> m_tcp;
    std::unique_ptr<MbtcpSerialPort> m_mbtcp;
#ifdef Q_OS_WIN
    std::unique_ptr<WinSerialPort> m_win;
#endif
    // What serves the port when QSerialPort does not: null for a serial device
    // (except on Windows).
    SerialPort *m_backend = nullptr;
    // Last, so it is destroyed first, while what its error handler touches lives.
    QSerialPort m_port;
};
