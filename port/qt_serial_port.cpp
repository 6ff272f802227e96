#include "qt_serial_port.h"

#include "mbtcp_serial_port.h"
#include "port_lock.h"
#include "port_map.h"
#include "tcp_serial_port.h"
#ifdef Q_OS_WIN
#include "win_serial_port.h"
#endif

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <utility>

#ifndef Q_OS_WIN
#include <poll.h>
#include <unistd.h>
#endif

QtSerialPort::QtSerialPort(QString ini_path)
    : m_ini_path(std::move(ini_path)), m_device(port_device_path(m_number, m_ini_path))
{
    m_port.setPortName(m_device);
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &m_port,
                     [this](QSerialPort::SerialPortError error) { on_error(error); });
    // Emitted as bytes arrive while the event loop runs, and at the latest
    // when the tick takes them in: the time a reply was complete.
    QObject::connect(&m_port, &QSerialPort::readyRead, &m_port, [this] {
        m_last_byte_ms = QDateTime::currentMSecsSinceEpoch();
        if (m_ready)
            m_ready();
    });
}

QtSerialPort::~QtSerialPort() = default;

bool QtSerialPort::set_ready_handler(std::function<void()> handler)
{
    m_ready = std::move(handler);
    if (m_tcp)
        m_tcp->set_ready_handler(m_ready);
    if (m_mbtcp)
        m_mbtcp->set_ready_handler(m_ready);
#ifdef Q_OS_WIN
    // The Win32 port reads without being told: it is asked instead.
    return false;
#else
    return true;
#endif
}

PortError QtSerialPort::set_port_number(int n)
{
    if (still_open())
        return PortError::Busy;
    if (n < first_port_number || n > last_port_number)
        return PortError::BadNumber;
    m_number = n;
    m_device = port_device_path(n, m_ini_path);
    m_port.setPortName(m_device);
    return PortError::None;
}

PortError QtSerialPort::set_device(const QString &device)
{
    if (still_open())
        return PortError::Busy;
    m_number = 0;
    m_device = device;
    m_port.setPortName(m_device);
    return PortError::None;
}

QString QtSerialPort::device_name(int n) const
{
    return port_device_path(n, m_ini_path);
}

PortError QtSerialPort::open()
{
    if (still_open())
        return PortError::Busy;
    m_lost = false;
    m_open_error.clear();
    choose_backend();
    if (m_backend)
        return m_backend->open();
    m_port.setBaudRate(QSerialPort::Baud115200);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // A line that never stops sending fills the driver, not this process.
    m_port.setReadBufferSize(64 * 1024);
    m_port.clearError();
    // By the device's own name, whatever name leads to it: Qt's lock file
    // is named after the port, and a second name would take a second lock.
    m_port.setPortName(port_device_node(m_device));
    if (m_port.open(QIODevice::ReadWrite))
        return PortError::None;
    return open_failure(m_port.error());
}

PortError QtSerialPort::open_failure(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::OpenError: // already open through this object
        return PortError::Busy;
    case QSerialPort::PermissionError: {
        // Qt reports a device held by someone else (its lock file, EBUSY from
        // TIOCEXCL, access denied on Windows) as a permission error too; a
        // device we may read and write can only be refused for being held.
#ifdef Q_OS_WIN
        return PortError::Busy;
#else
        const QByteArray path = QFile::encodeName(m_device);
        if (::access(path.constData(), R_OK | W_OK) != 0)
            return PortError::NotAvailable;
        // Qt takes over the lock of a process that is gone, unless the file
        // may not be removed (another user's, in the sticky lock folder):
        // then nothing holds the port, and the file is what to remove.
        const QString lock = port_lock_file(m_device);
        if (!QFileInfo::exists(lock))
            return PortError::Busy;
        const PortLockHolder holder = port_lock_holder(lock);
        m_open_error = port_lock_text(lock, holder);
        return holder.gone ? PortError::NotAvailable : PortError::Busy;
#endif
    }
    case QSerialPort::DeviceNotFoundError:
    default:
        return PortError::NotAvailable;
    }
}

void QtSerialPort::choose_backend()
{
    if (m_backend)
        m_backend->close();
    m_backend = nullptr;
    if (is_tcp_device(m_device)) {
        if (!m_tcp) {
            m_tcp = std::make_unique<TcpSerialPort>();
            m_tcp->set_ready_handler(m_ready);
        }
        m_tcp->set_device(m_device);
        m_backend = m_tcp.get();
        return;
    }
    if (is_mbtcp_device(m_device)) {
        if (!m_mbtcp) {
            m_mbtcp = std::make_unique<MbtcpSerialPort>();
            m_mbtcp->set_ready_handler(m_ready);
        }
        m_mbtcp->set_device(m_device);
        m_backend = m_mbtcp.get();
        return;
    }
#ifdef Q_OS_WIN
    // Qt's Windows serial code waits on overlapped reads, which never
    // complete under Wine; the Win32 port reads without waiting and is
    // checked there, so it is the one that ships.
    if (!m_win)
        m_win = std::make_unique<WinSerialPort>(m_ini_path);
    m_win->set_device(m_device);
    m_backend = m_win.get();
#endif
}

void QtSerialPort::close()
{
    m_lost = false;
    if (m_backend)
        m_backend->close();
    if (m_port.isOpen())
        m_port.close();
}

bool QtSerialPort::is_open() const
{
    if (m_backend)
        return m_backend->is_open();
    return m_port.isOpen() && !m_lost;
}

bool QtSerialPort::lost() const
{
    return m_backend ? m_backend->lost() : m_lost;
}

qint64 QtSerialPort::last_byte_ms() const
{
    return m_backend ? m_backend->last_byte_ms() : m_last_byte_ms;
}

QString QtSerialPort::open_error_text() const
{
    return m_backend ? m_backend->open_error_text() : m_open_error;
}

int QtSerialPort::bytes_waiting()
{
    if (m_backend)
        return m_backend->bytes_waiting();
    if (!still_open())
        return 0;
    take_in_received();
    if (!still_open())
        return 0;
    return int(std::min<qint64>(m_port.bytesAvailable(), INT_MAX));
}

int QtSerialPort::take_dropped()
{
    return m_backend ? m_backend->take_dropped() : 0;
}

int QtSerialPort::discard_waiting()
{
    if (m_backend)
        return m_backend->discard_waiting();
    if (!still_open())
        return 0;
    // What the driver holds goes too: a line that chatters has more of it.
    const int n = int(std::min<qint64>(m_port.bytesAvailable(), INT_MAX));
    m_port.clear(QSerialPort::Input);
    return n;
}

uint8_t QtSerialPort::read_byte()
{
    if (m_backend)
        return m_backend->read_byte();
    if (!still_open())
        return 0;
    if (m_port.bytesAvailable() == 0) {
        take_in_received();
        if (!still_open())
            return 0;
    }
    char c = 0;
    return m_port.getChar(&c) ? uint8_t(c) : 0;
}

void QtSerialPort::write_frame(std::span<const uint8_t> frame)
{
    if (m_backend) {
        m_backend->write_frame(frame);
        return;
    }
    if (!still_open() || frame.empty())
        return;
    m_port.write(reinterpret_cast<const char *>(frame.data()), qint64(frame.size()));
    // Hands the bytes to the driver now rather than from the event loop.
    m_port.flush();
    still_open();
}

bool QtSerialPort::wait_for_bytes(int ms)
{
    if (m_backend)
        return m_backend->wait_for_bytes(ms);
    if (!still_open())
        return false;
    if (m_port.bytesAvailable() == 0)
        m_port.waitForReadyRead(ms);
    return still_open() && m_port.bytesAvailable() > 0;
}

void QtSerialPort::take_in_received()
{
    // Moves what the driver already holds into QSerialPort's buffer without
    // waiting; with no event loop running (or not yet) nothing else does.
    m_port.waitForReadyRead(0);
}

void QtSerialPort::on_error(QSerialPort::SerialPortError error)
{
    // A pulled adapter or a closed pseudo-terminal master hangs the tty up: a
    // write then fails with EIO (ResourceError) and a read gets end of file,
    // which Qt reports as ReadError, again at every read notification.
    const bool gone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (!gone || m_lost || !m_port.isOpen())
        return;
    // The same errors come from a read notification that finds nothing to
    // read, because a tick's take-in got there first: then the line is fine.
    if (!hung_up()) {
        m_port.clearError();
        return;
    }
    m_lost = true;
    // QSerialPort does not promise that closing from inside the call that
    // reported the error is safe, so close right after that call returns, or
    // from the event loop when the error came from there.
    QTimer::singleShot(0, &m_port, [this] { still_open(); });
}

bool QtSerialPort::hung_up() const
{
#ifdef Q_OS_WIN
    return true;
#else
    pollfd p{int(m_port.handle()), POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return true;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#endif
}

bool QtSerialPort::still_open()
{
    if (m_backend)
        return m_backend->is_open();
    if (m_lost && m_port.isOpen())
        m_port.close();
    return m_port.isOpen();
}
