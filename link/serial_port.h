#pragma once
// The serial port as the program uses it: a port number, open and close, a
// count of waiting bytes, one byte read at a time and whole frames written.
// Line settings (115200 8N1, no flow control) belong to the implementation.

#include <QString>

#include <cstdint>
#include <span>

enum class PortError {
    None,
    Busy,         // already open here, or held or locked by another process
    NotAvailable, // missing device, no permission, I/O error
    BadNumber,    // a number the layer refuses (0, above 16)
};

constexpr int first_port_number = 1;
constexpr int last_port_number = 16;

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Chooses the port the next open uses. Fails with Busy while open.
    virtual PortError set_port_number(int n) = 0;
    virtual int port_number() const = 0;
    // A device named outright (a path or name given on a command line)
    // instead of a number; port_number() is then 0. Fails with Busy while
    // open, and with NotAvailable where the layer knows no such devices.
    virtual PortError set_device(const QString & /*device*/) { return PortError::NotAvailable; }
    // The device the given number maps to (for tooltips and messages).
    virtual QString device_name(int n) const = 0;

    // Fails with Busy when already open.
    virtual PortError open() = 0;
    virtual void close() = 0;
    virtual bool is_open() const = 0;
    // The port closed itself because its device went away (adapter pulled,
    // device node gone, read or write error). The next open or close clears it.
    virtual bool lost() const { return false; }

    // Received bytes waiting to be read; 0 when closed. Never blocks.
    virtual int bytes_waiting() = 0;
    // Removes and returns the oldest waiting byte (0 when there is none).
    virtual uint8_t read_byte() = 0;
    // Sends the whole frame; does not wait for a reply. Nothing when closed.
    virtual void write_frame(std::span<const uint8_t> frame) = 0;
    // Waits up to ms for received bytes; true when some are waiting. Only a
    // scan of addresses waits like this; the polling cycle never does.
    virtual bool wait_for_bytes(int ms) = 0;
    // When the latest byte arrived (wall clock, ms since the epoch); 0 before any.
    virtual qint64 last_byte_ms() const = 0;
};
