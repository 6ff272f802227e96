#include "modbus.h"
#include "rtu_frame.h"
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

// A reply answers the request out when it comes from the address asked and
// carries its function, or that function's exception (high bit set).
bool answers(const Modbus &m, const QByteArray &request)
{
    return request.size() >= 2 && m.rx_count >= 2 && m.rx_buf[0] == uint8_t(request[0]) &&
           (m.rx_buf[1] & 0x7F) == uint8_t(request[1]);
}

Verdict judge(const Modbus &m, const QByteArray &request)
{
    if (m.rx_count <= 2)
        return Verdict::no_answer;
    if (!crc_matches(m.rx_buf, m.rx_count))
        return Verdict::crc_mismatch;
    return answers(m, request) ? Verdict::good : Verdict::unmatched;
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

int target_of(const Modbus &m, int slot)
{
    const int16_t t = m.ring.req_target[size_t(slot)];
    return t == any_address ? m.address : t;
}

int drop_requests(Modbus &m, const std::function<bool(int slot)> &drop)
{
    const bool head_goes = !m.ring.empty() && drop(m.ring.req_read_idx);
    if (head_goes) {
        m.in_flight.clear();
        m.in_flight_ms = 0;
    }
    return drop_pending(m.ring, drop);
}

Exchange exchange_step(Modbus &m, const ReplyDecoder &decode_reply)
{
    Exchange e;
    e.port_open = m.port->is_open();
    m.rx_count = 0;
    // The port is asked what it holds once per batch, not once per byte.
    for (int waiting; (waiting = m.port->bytes_waiting()) > 0;) {
        for (; waiting > 0; --waiting) {
            const uint8_t b = read_rx_byte(m);
            if (m.rx_count < rx_keep)
                m.rx_buf[m.rx_count++] = b;
        }
    }
    e.reply = received_bytes(m);
    e.reply_ms = m.rx_count > 0 ? m.port->last_byte_ms() : 0;
    e.request = m.in_flight;
    e.request_ms = m.in_flight_ms;
    m.in_flight.clear();
    m.in_flight_ms = 0;

    e.verdict = judge(m, e.request);
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
    if (m.ring.empty() && !m.idle_pdu.empty()) {
        int16_t target = any_address;
        if (!m.idle_targets.empty())
            target = int16_t(m.idle_targets[m.idle_next++ % m.idle_targets.size()]);
        push(m.ring, m.idle_pdu.front(), std::span(m.idle_pdu).subspan(1), target);
    }
    if (m.ring.empty())
        return;

    const int head = m.ring.req_read_idx;
    const int len = m.ring.req_len[size_t(head)];
    const int address = target_of(m, head);
    // A slave address must be selected to build a frame; with none there is
    // nothing sensible to send, and the head stays for the next tick.
    if (len < 1 || len > 254 || address < 0 || address > 255)
        return;

    const auto &slot = m.ring.req_queue[size_t(head)];
    m.tx_frame = rtu_frame(uint8_t(address), std::span(slot).subspan(1, size_t(len)));

    if (!m.port->is_open())
        return;
    m.port->write_frame(m.tx_frame);
    m.in_flight =
        QByteArray(reinterpret_cast<const char *>(m.tx_frame.data()), qsizetype(m.tx_frame.size()));
    m.in_flight_ms = QDateTime::currentMSecsSinceEpoch();
    e.sent = m.in_flight;
    e.sent_ms = m.in_flight_ms;
}
