#include "win_serial_port.h"

#include "port_map.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <windows.h>

#include <algorithm>
#include <climits>
#include <utility>

namespace {

// Often enough that a reply's time is known to a few milliseconds and a
// pulled adapter is noticed at once; a call that finds nothing costs little.
constexpr int watch_ms = 5;

HANDLE handle_of(void *h)
{
    return static_cast<HANDLE>(h);
}

// "COM12" and "\\.\COM12" both become "\\.\COM12"; other names stay.
QString win32_name(const QString &device)
{
    if (device.startsWith(QLatin1String("\\\\.\\")))
        return device;
    if (device.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return QStringLiteral("\\\\.\\") + device;
    return device;
}

PortError open_failure(DWORD error)
{
    switch (error) {
    // Windows opens a COM port once: another program holds it. (Wine lets
    // a second handle open it, so there the refusal cannot be seen.)
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PortError::Busy;
    case ERROR_FILE_NOT_FOUND: // no such port (adapter not plugged in)
    case ERROR_PATH_NOT_FOUND:
    default:
        return PortError::NotAvailable;
    }
}

// 115200 8N1, no flow control; DTR and RTS on, as adapters that power
// their RS-485 side from them expect.
bool set_line(HANDLE h)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(h, &dcb))
        return false;
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(h, &dcb))
        return false;
    // MAXDWORD, 0, 0: ReadFile returns at once with what is there. A write
    // of a frame takes about a millisecond; a line that holds it longer has
    // a fault, and the write gives up rather than hang the window.
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutConstant = 500;
    return SetCommTimeouts(h, &t) != 0;
}

} // namespace

WinSerialPort::WinSerialPort(QString ini_path)
    : m_ini_path(std::move(ini_path)), m_device(port_device_path(m_number, m_ini_path))
{
    m_watch.setInterval(watch_ms);
    QObject::connect(&m_watch, &QTimer::timeout, [this] { take_in(); });
}

WinSerialPort::~WinSerialPort()
{
    release();
}

PortError WinSerialPort::set_port_number(int n)
{
    if (is_open())
        return PortError::Busy;
    if (n < first_port_number || n > last_port_number)
        return PortError::BadNumber;
    m_number = n;
    m_device = port_device_path(n, m_ini_path);
    return PortError::None;
}

PortError WinSerialPort::set_device(const QString &device)
{
    if (is_open())
        return PortError::Busy;
    m_number = 0;
    m_device = device;
    return PortError::None;
}

QString WinSerialPort::device_name(int n) const
{
    return port_device_path(n, m_ini_path);
}

PortError WinSerialPort::open()
{
    if (is_open())
        return PortError::Busy;
    m_lost = false;
    const QString name = win32_name(m_device);
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(name.utf16()),
                           GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return open_failure(GetLastError());
    // A file or a pipe opens too, but is no serial port.
    if (!SetupComm(h, 4096, 4096) || !set_line(h)) {
        CloseHandle(h);
        return PortError::NotAvailable;
    }
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    m_handle = h;
    m_received.clear();
    m_read_pos = 0;
    m_watch.start();
    return PortError::None;
}

void WinSerialPort::close()
{
    m_lost = false;
    release();
}

void WinSerialPort::release()
{
    m_watch.stop();
    if (m_handle != nullptr)
        CloseHandle(handle_of(m_handle));
    m_handle = nullptr;
}

void WinSerialPort::lose()
{
    release();
    m_lost = true;
}

bool WinSerialPort::take_in()
{
    if (!is_open())
        return false;
    DWORD errors = 0;
    COMSTAT status = {};
    // A USB adapter pulled out fails here (and in ReadFile) from then on.
    if (!ClearCommError(handle_of(m_handle), &errors, &status)) {
        lose();
        return false;
    }
    // What was read is kept until the tick has taken it; only then is the
    // buffer started afresh.
    if (m_read_pos == m_received.size()) {
        m_received.clear();
        m_read_pos = 0;
    }
    char chunk[512];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle_of(m_handle), chunk, sizeof(chunk), &got, nullptr)) {
            lose();
            return false;
        }
        if (got == 0)
            return true;
        m_received.append(chunk, qsizetype(got));
        m_last_byte_ms = QDateTime::currentMSecsSinceEpoch();
    }
}

int WinSerialPort::bytes_waiting()
{
    if (!take_in())
        return 0;
    return int(std::min<qsizetype>(m_received.size() - m_read_pos, INT_MAX));
}

uint8_t WinSerialPort::read_byte()
{
    if (m_read_pos == m_received.size() && !take_in())
        return 0;
    if (m_read_pos == m_received.size())
        return 0;
    return uint8_t(m_received[m_read_pos++]);
}

void WinSerialPort::write_frame(std::span<const uint8_t> frame)
{
    if (!is_open() || frame.empty())
        return;
    // A write time-out is no failure (fewer bytes are sent); a failure
    // means the device is gone.
    DWORD sent = 0;
    if (!WriteFile(handle_of(m_handle), frame.data(), DWORD(frame.size()), &sent, nullptr))
        lose();
}

bool WinSerialPort::wait_for_bytes(int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (bytes_waiting() > 0)
            return true;
        if (!is_open() || clock.elapsed() >= ms)
            return false;
        Sleep(1);
    }
}
