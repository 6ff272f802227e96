#include "mbtcp_serial_port.h"

#include "crc.h"

#include <QDateTime>
#include <QDeadlineTimer>

#include <utility>

namespace {

constexpr quint16 mbtcp_port = 502;

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
    m_reader.reset();
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
    return std::exchange(m_dropped, 0) + m_reader.take_dropped();
}

void MbtcpSerialPort::write_frame(std::span<const uint8_t> frame)
{
    // address, PDU, CRC low, CRC high
    if (frame.size() < 4 || !is_open())
        return;
    // An answer to an earlier request that comes after this is not taken.
    m_reader.await(++m_transaction);
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
    if (!m_reader.feed(m_stream.read_all())) {
        distrust();
        return;
    }
    const QByteArray rtu = m_reader.take_rtu();
    if (rtu.isEmpty())
        return;
    m_rtu.remove(0, m_rtu_at);
    m_rtu_at = 0;
    m_rtu += rtu;
    m_last_byte_ms = QDateTime::currentMSecsSinceEpoch();
}

// Once a header breaks the framing no later byte can be placed: everything
// held goes, and the connection with it, to be opened afresh.
void MbtcpSerialPort::distrust()
{
    m_dropped += int((m_rtu.size() - m_rtu_at) + m_stream.read_all().size());
    forget();
    m_stream.drop_connection();
}
