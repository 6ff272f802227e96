#pragma once
// The serial port over the Win32 communications API, always 115200 baud,
// 8N1, no flow control. Port n opens "\\.\COMn", the only name that reaches
// COM10 and above. Reads never wait: the read time-outs make ReadFile return
// at once with what the driver holds, which a short timer takes in while the
// port is open, so that a reply's time is known within a few milliseconds.
// (Qt's own Windows backend waits on overlapped reads that never complete
// under Wine, so the checked path would not be the shipped one.)

#include "serial_port.h"

#include <QByteArray>
#include <QString>
#include <QTimer>

class WinSerialPort : public SerialPort {
public:
    explicit WinSerialPort(QString ini_path);
    ~WinSerialPort() override;
    WinSerialPort(const WinSerialPort &) = delete;
    WinSerialPort &operator=(const WinSerialPort &) = delete;

    PortError set_port_number(int n) override;
    PortError set_device(const QString &device) override;
    int port_number() const override { return m_number; }
    QString device_name(int n) const override;
    PortError open() override;
    void close() override;
    bool is_open() const override { return m_handle != nullptr; }
    bool lost() const override { return m_lost; }
    int bytes_waiting() override;
    uint8_t read_byte() override;
    void write_frame(std::span<const uint8_t> frame) override;
    bool wait_for_bytes(int ms) override;
    qint64 last_byte_ms() const override { return m_last_byte_ms; }

private:
    // Moves what the driver holds into m_received; false (and the port
    // closed as lost) when the device has gone.
    bool take_in();
    void lose();
    void release();

    QString m_ini_path;
    int m_number = first_port_number;
    QString m_device;
    void *m_handle = nullptr; // HANDLE; null while closed
    QByteArray m_received;
    qsizetype m_read_pos = 0;
    qint64 m_last_byte_ms = 0;
    bool m_lost = false;
    QTimer m_watch;
};
