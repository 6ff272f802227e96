#include "tcp_serial_port.h"

#include <QDateTime>
#include <QNetworkProxy>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <utility>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

// A device server on a LAN accepts within milliseconds, one behind a mobile
// connection within a few hundred. Longer would hold the window (the reconnect
// opens from its event loop) and the port dialog's probe of every port.
constexpr int connect_wait_ms = 1000;
// More than a tick takes from the line (two frames), little enough to stay small.
constexpr qint64 read_buffer_bytes = 64 * 1024;
// After a server that did not answer at all, opens fail at once for this
// long instead of holding the window for a second at every reconnect try.
// A refused connection costs nothing and is retried every time.
constexpr int silent_pause_ms = 5000;
// Frames the server leaves unacknowledged this long mean a dead connection
// (cable pulled, server switched off), which TCP would otherwise notice only
// after a quarter of an hour of retransmissions.
constexpr int unacknowledged_limit_ms = 5000;

void limit_unacknowledged(qintptr socket)
{
#ifdef Q_OS_LINUX
    const unsigned int ms = unacknowledged_limit_ms;
    ::setsockopt(int(socket), IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, sizeof ms);
#else
    Q_UNUSED(socket);
#endif
}

} // namespace

bool is_tcp_device(const QString &device)
{
    return device.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

TcpSerialPort::TcpSerialPort(quint16 default_port, QString form)
    : m_default_port(default_port), m_form(std::move(form))
{
    // Device servers sit on the plant's own network, never behind a proxy.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
        m_last_byte_ms = QDateTime::currentMSecsSinceEpoch();
        if (m_ready)
            m_ready();
    });
}

PortError TcpSerialPort::set_device(const QString &device)
{
    if (device == m_device)
        return PortError::None;
    m_device = device;
    m_silent_since.invalidate();
    const QUrl url(device, QUrl::StrictMode);
    const bool plain = url.isValid() && url.path().isEmpty() && url.userInfo().isEmpty() &&
                       !url.hasQuery() && !url.hasFragment();
    m_host = plain ? url.host() : QString();
    m_port = quint16(std::clamp(url.port(m_default_port), 0, 65535));
    return PortError::None;
}

PortError TcpSerialPort::open()
{
    if (still_open())
        return PortError::Busy;
    m_open = false;
    m_socket.abort();
    if (m_host.isEmpty() || m_port == 0)
        return fail(QStringLiteral("%1 - не адрес сервера; нужно %2").arg(m_device, m_form));
    // The reason of the silent attempt stands.
    if (m_silent_since.isValid() && !m_silent_since.hasExpired(silent_pause_ms))
        return PortError::NotAvailable;
    m_silent_since.invalidate();
    // A server that never stops sending is held back by the network's own
    // flow control, not buffered here without bound.
    m_socket.setReadBufferSize(read_buffer_bytes);
    m_socket.connectToHost(m_host, m_port);
    if (!m_socket.waitForConnected(connect_wait_ms)) {
        if (m_socket.error() == QAbstractSocket::SocketTimeoutError)
            m_silent_since.start();
        return fail(connect_error_text());
    }
    // Each frame leaves in one piece at once, as it would on the wire.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    limit_unacknowledged(m_socket.socketDescriptor());
    m_error_text.clear();
    m_open = true;
    return PortError::None;
}

PortError TcpSerialPort::fail(const QString &text)
{
    m_error_text = text;
    m_socket.abort();
    return PortError::NotAvailable;
}

QString TcpSerialPort::connect_error_text() const
{
    const QString server = m_host + QLatin1Char(':') + QString::number(m_port);
    switch (m_socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("сервер %1 отказал в соединении").arg(server);
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("узел %1 не найден").arg(m_host);
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("сервер %1 не ответил за %2 с")
            .arg(server, QString::number(connect_wait_ms / 1000));
    case QAbstractSocket::NetworkError:
        return QStringLiteral("сеть до %1 недоступна").arg(server);
    default:
        return QStringLiteral("нет соединения с %1: %2").arg(server, m_socket.errorString());
    }
}

void TcpSerialPort::close()
{
    m_open = false;
    m_socket.abort();
}

bool TcpSerialPort::is_open() const
{
    return m_open && m_socket.state() == QAbstractSocket::ConnectedState;
}

bool TcpSerialPort::lost() const
{
    return m_open && m_socket.state() != QAbstractSocket::ConnectedState;
}

bool TcpSerialPort::still_open()
{
    // Qt has closed a connection that dropped, or is closing it.
    if (lost())
        m_socket.abort();
    return is_open();
}

int TcpSerialPort::bytes_waiting()
{
    if (!still_open())
        return 0;
    take_in_received();
    if (!still_open())
        return 0;
    return int(std::min<qint64>(m_socket.bytesAvailable(), INT_MAX));
}

bool TcpSerialPort::set_ready_handler(std::function<void()> handler)
{
    m_ready = std::move(handler);
    return true;
}

int TcpSerialPort::discard_waiting()
{
    if (!still_open())
        return 0;
    return int(m_socket.skip(m_socket.bytesAvailable()));
}

uint8_t TcpSerialPort::read_byte()
{
    if (!still_open())
        return 0;
    if (m_socket.bytesAvailable() == 0) {
        take_in_received();
        if (!still_open())
            return 0;
    }
    char c = 0;
    return m_socket.getChar(&c) ? uint8_t(c) : 0;
}

void TcpSerialPort::write_frame(std::span<const uint8_t> frame)
{
    if (!still_open() || frame.empty())
        return;
    m_socket.write(reinterpret_cast<const char *>(frame.data()), qint64(frame.size()));
    // Hands the bytes to the network now rather than from the event loop.
    m_socket.flush();
    still_open();
}

bool TcpSerialPort::wait_for_bytes(int ms)
{
    if (!still_open())
        return false;
    if (m_socket.bytesAvailable() == 0)
        m_socket.waitForReadyRead(ms);
    return still_open() && m_socket.bytesAvailable() > 0;
}

QByteArray TcpSerialPort::read_all()
{
    if (!still_open())
        return {};
    take_in_received();
    return still_open() ? m_socket.readAll() : QByteArray();
}

void TcpSerialPort::drop_connection()
{
    m_socket.abort();
}

void TcpSerialPort::take_in_received()
{
    // Moves what the system already holds into the socket's buffer without
    // waiting, and notices a connection the server closed.
    m_socket.waitForReadyRead(0);
}
