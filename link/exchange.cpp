#include "modbus.h"
#include "serial_port.h"

#include <QDateTime>

namespace {

constexpr int rx_keep = 255; // bytes kept per tick; the rest is drained and dropped

QByteArray received_bytes(const Modbus &m)
{
    QByteArray out(m.rx_count, Qt::Uninitialized);
    for (int i = 0; i < m.rx_count; ++i)
        out[i] = char(m.rx_buf[size_t(i)]);
    return out;
}

Verdict judge(const Modbus &m)
{
    if (m.rx_count <= 2)
        return Verdict::no_answer;
    const int n = m.rx_count;
    const int received = m.rx_buf[size_t(n - 1)] * 256 + m.rx_buf[size_t(n - 2)];
    return received == crc16(m.rx_buf, n - 3) ? Verdict::good : Verdict::crc_mismatch;
}

// address, function | 0x80, code, CRC low, CRC high
int exception_code(const Modbus &m)
{
    return m.rx_count >= 5 && m.rx_buf[1] > 127 ? m.rx_buf[2] : -1;
}

} // namespace

uint8_t read_rx_byte(Modbus &m)
{
    return m.port->read_byte();
}

Exchange exchange_step(Modbus &m, const ReplyDecoder &decode_reply)
{
    Exchange e;
    e.port_open = m.port->is_open();
    m.rx_count = 0;
    while (m.port->bytes_waiting() > 0) {
        const uint8_t b = read_rx_byte(m);
        if (m.rx_count < rx_keep)
            m.rx_buf[m.rx_count++] = b;
    }
    e.reply = received_bytes(m);
    e.reply_ms = m.rx_count > 0 ? m.port->last_byte_ms() : 0;
    e.request = m.in_flight;
    e.request_ms = m.in_flight_ms;
    m.in_flight.clear();
    m.in_flight_ms = 0;

    e.verdict = judge(m);
    if (e.verdict == Verdict::good) {
        advance_read_idx(m.ring);
        e.exception_code = exception_code(m);
        if (decode_reply)
            decode_reply(m);
    }
    send_next(m, e);
    return e;
}

void send_next(Modbus &m, Exchange &e)
{
    if (m.ring.empty() && !m.idle_pdu.empty())
        push(m.ring, m.idle_pdu.front(), std::span(m.idle_pdu).subspan(1));
    if (m.ring.empty())
        return;

    const auto head = size_t(m.ring.req_read_idx);
    const int len = m.ring.req_len[head];
    // A slave address must be selected to build a frame; with none there is
    // nothing sensible to send, and the head stays for the next tick.
    if (len < 1 || len > 254 || m.address < 0 || m.address > 255)
        return;

    // address byte + PDU + 2 bytes CRC
    m.tx_frame.assign(size_t(len) + 3, 0);
    m.tx_frame[0] = uint8_t(m.address);
    for (int i = 1; i <= len; ++i)
        m.tx_frame[size_t(i)] = m.ring.req_queue[head][size_t(i)];
    const uint16_t crc = crc16(m.tx_frame, len);
    m.tx_frame[size_t(len) + 1] = byte_of(crc, 0);
    m.tx_frame[size_t(len) + 2] = byte_of(crc, 1);

    if (!m.port->is_open())
        return;
    m.port->write_frame(m.tx_frame);
    m.in_flight =
        QByteArray(reinterpret_cast<const char *>(m.tx_frame.data()), qsizetype(m.tx_frame.size()));
    m.in_flight_ms = QDateTime::currentMSecsSinceEpoch();
    e.sent = m.in_flight;
    e.sent_ms = m.in_flight_ms;
}
