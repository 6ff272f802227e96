#include "mbtcp_serial_port.h"

#include "crc.h"

#include <QDateTime>
#include <QDeadlineTimer>

#include <utility>

namespace {

constexpr quint16 mbtcp_port = 502;
// transaction id (2), protocol id (2, 0 for Modbus), length (2, counts the
// unit id and the PDU that follow)
constexpr int header_size = 6;
// A length outside these is no MBAP frame: the stream is out of step.
constexpr int min_length = 2; // unit id, function code
constexpr int max_length = 260;

int be16(const QByteArray &b, qsizetype at)
{
    return quint8(b[at]) << 8 | quint8(b[at + 1]);
}

void append_be16(QByteArray &b, int v)
{
    b.append(char(v >> 8));
    b.append(char(v & 0xFF));
}

} // namespace

bool is_mbtcp_device(const QString &device)
{
    return device.startsWith(QLatin1String("mbtcp://"), Qt::CaseInsensitive);
}

MbtcpSerialPort::MbtcpSerialPort() : m_stream(mbtcp_port, QStringLiteral("mbtcp://УЗЕЛ[:ПОРТ]")) {}

PortError MbtcpSerialPort::open()
{
    const PortError e = m_stream.open();
    if (e == PortError::None)
        forget();
    return e;
}

void MbtcpSerialPort::close()
{
    m_stream.close();
    forget();
}

void MbtcpSerialPort::forget()
{
    m_awaited = false;
    m_raw.clear();
    m_rtu.clear();
    m_rtu_at = 0;
}

int MbtcpSerialPort::bytes_waiting()
{
    take_in();
    return is_open() ? int(m_rtu.size() - m_rtu_at) : 0;
}

uint8_t MbtcpSerialPort::read_byte()
{
    if (m_rtu_at == m_rtu.size())
        take_in();
    if (!is_open() || m_rtu_at == m_rtu.size())
        return 0;
    return uint8_t(m_rtu[m_rtu_at++]);
}

int MbtcpSerialPort::discard_waiting()
{
    take_in();
    const int n = int(m_rtu.size() - m_rtu_at);
    m_rtu.clear();
    m_rtu_at = 0;
    return n;
}

int MbtcpSerialPort::take_dropped()
{
    return std::exchange(m_dropped, 0);
}

void MbtcpSerialPort::write_frame(std::span<const uint8_t> frame)
{
    // address, PDU, CRC low, CRC high
    if (frame.size() < 4 || !is_open())
        return;
    // An answer to an earlier request that comes after this is not taken.
    ++m_transaction;
    m_awaited = true;
    const auto unit_and_pdu = frame.first(frame.size() - 2);
    QByteArray mbap;
    append_be16(mbap, m_transaction);
    append_be16(mbap, 0);
    append_be16(mbap, int(unit_and_pdu.size()));
    mbap.append(reinterpret_cast<const char *>(unit_and_pdu.data()),
                qsizetype(unit_and_pdu.size()));
    m_stream.write_frame(
        std::span(reinterpret_cast<const uint8_t *>(mbap.constData()), size_t(mbap.size())));
}

bool MbtcpSerialPort::wait_for_bytes(int ms)
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        if (bytes_waiting() > 0)
            return true;
        if (!is_open() || deadline.hasExpired())
            return false;
        // Everything received is in m_raw by now, so this waits for more.
        m_stream.wait_for_bytes(int(deadline.remainingTime()));
    }
}

void MbtcpSerialPort::take_in()
{
    m_raw += m_stream.read_all();
    while (take_frame()) {
    }
}

bool MbtcpSerialPort::take_frame()
{
    if (m_raw.size() < header_size)
        return false;
    const int length = be16(m_raw, 4);
    if (be16(m_raw, 2) != 0 || length < min_length || length > max_length) {
        distrust();
        return false;
    }
    const qsizetype size = header_size + length;
    if (m_raw.size() < size)
        return false;
    if (m_awaited && be16(m_raw, 0) == m_transaction) {
        m_awaited = false;
        // address (the unit id), PDU, CRC low, CRC high
        QByteArray rtu = m_raw.mid(header_size, length);
        const uint16_t crc = crc16(rtu, int(rtu.size()) - 1);
        rtu.append(char(crc & 0xFF));
        rtu.append(char(crc >> 8));
        m_rtu.remove(0, m_rtu_at);
        m_rtu_at = 0;
        m_rtu += rtu;
        m_last_byte_ms = QDateTime::currentMSecsSinceEpoch();
    } else {
        m_dropped += int(size);
    }
    m_raw.remove(0, size);
    return true;
}

// Once a header breaks the framing no later byte can be placed: everything
// held goes, and the connection with it, to be opened afresh.
void MbtcpSerialPort::distrust()
{
    const qsizetype held = m_raw.size() + (m_rtu.size() - m_rtu_at) + m_stream.read_all().size();
    m_dropped += int(held);
    forget();
    m_stream.drop_connection();
}
