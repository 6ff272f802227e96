#pragma once
// The serial port as the program uses it: a port number, open and close, a
// count of waiting bytes, one byte read at a time and whole frames written.
// Line settings (115200 8N1, no flow control) belong to the implementation.

#include <QString>

#include <cstdint>
#include <functional>
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
    // A device named outright (a path) instead of a port number; the port
    // number is then 0. Fails with Busy while open; layers that know only
    // numbers refuse it.
    virtual PortError set_device(const QString &device)
    {
        Q_UNUSED(device);
        return PortError::BadNumber;
    }
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
    // Drops what is waiting now, without waiting or reading on for what
    // comes after; returns how many bytes went. A chattering line must not
    // keep the program reading.
    virtual int discard_waiting()
    {
        const int n = bytes_waiting();
        for (int k = 0; k < n; ++k)
            read_byte();
        return n;
    }
    // Bytes the port itself dropped since it was last asked, as not to be
    // trusted (a gateway's frame that breaks its own framing): counted with
    // the line's noise.
    virtual int take_dropped() { return 0; }
    // Has handler called from the event loop whenever bytes come in; false
    // when the port cannot tell, and must be asked from time to time.
    virtual bool set_ready_handler(std::function<void()> handler)
    {
        Q_UNUSED(handler);
        return false;
    }
    // Sends the whole frame; does not wait for a reply. Nothing when closed.
    virtual void write_frame(std::span<const uint8_t> frame) = 0;
    // Waits up to ms for received bytes; true when some are waiting. Only a
    // scan of addresses waits like this; the polling cycle never does.
    virtual bool wait_for_bytes(int ms) = 0;
    // When the latest byte arrived (wall clock, ms since the epoch); 0 before any.
    virtual qint64 last_byte_ms() const = 0;
    // Why the last open failed, where the port knows more than its PortError
    // says (a server that refused, a host not found); empty otherwise.
    virtual QString open_error_text() const { return {}; }
};
