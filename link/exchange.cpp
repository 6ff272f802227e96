#include "modbus.h"
#include "rtu_frame.h"
#include "serial_port.h"

#include <QDateTime>

namespace {

constexpr int rx_keep = 255; // bytes kept per tick
// Bytes taken from the port per tick: two of the longest frames. What is
// waiting beyond them is noise, dropped in one go, so that a line that never
// stops sending cannot keep the tick from ending.
constexpr int rx_take = 2 * 256;

QByteArray received_bytes(const Modbus &m)
{
    QByteArray out(m.rx_count, Qt::Uninitialized);
    for (int i = 0; i < m.rx_count; ++i)
        out[i] = char(m.rx_buf[size_t(i)]);
    return out;
}

// A reply is meant for the request out when it comes from the address asked
// and carries its function, or that function's exception (high bit set).
bool meant_for(const Modbus &m, const QByteArray &request, const RequestRecord &asked)
{
    return request.size() >= 2 && m.rx_count >= 2 && m.rx_buf[0] == uint8_t(request[0]) &&
           (m.rx_buf[1] & 0x7F) == asked.function;
}

Verdict judge(const Modbus &m, const QByteArray &request, const RequestRecord &asked)
{
    if (m.rx_count <= 2)
        return Verdict::no_answer;
    if (!crc_matches(m.rx_buf, m.rx_count))
        return Verdict::crc_mismatch;
    if (!meant_for(m, request, asked) || asked.generation != m.generation)
        return Verdict::unmatched;
    return reply_fits(asked, m.rx_buf, m.rx_count) ? Verdict::good : Verdict::malformed;
}

// address, function | 0x80, code, CRC low, CRC high
int exception_code(const Modbus &m)
{
    return m.rx_buf[1] > 127 ? m.rx_buf[2] : -1;
}

// Takes at most rx_take bytes, keeping the first rx_keep; returns how many
// were dropped as noise.
int drain(Modbus &m)
{
    m.rx_count = 0;
    int taken = 0;
    // The port is asked what it holds once per batch, not once per byte.
    for (int waiting; taken < rx_take && (waiting = m.port->bytes_waiting()) > 0;) {
        for (; waiting > 0 && taken < rx_take; --waiting, ++taken) {
            const uint8_t b = read_rx_byte(m);
            if (m.rx_count < rx_keep)
                m.rx_buf[m.rx_count++] = b;
        }
    }
    int noise = taken - m.rx_count;
    if (taken == rx_take)
        noise += m.port->discard_waiting();
    return noise + m.port->take_dropped();
}

} // namespace

QString exception_meaning(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("функция не поддерживается");
    case 2:
        return QStringLiteral("недопустимый адрес данных");
    case 3:
        return QStringLiteral("недопустимое значение");
    case 4:
        return QStringLiteral("отказ устройства");
    case 5:
        return QStringLiteral("запрос принят, выполняется");
    case 6:
        return QStringLiteral("устройство занято");
    case 10: // a gateway with no route to the unit
        return QStringLiteral("шлюз: нет пути к устройству");
    case 11: // a gateway whose unit stayed silent
        return QStringLiteral("шлюз: устройство не ответило");
    default:
        return {};
    }
}

uint8_t read_rx_byte(Modbus &m)
{
    return m.port->read_byte();
}

int reply_length(const RequestRecord &asked, uint8_t function_byte)
{
    // address, function | 0x80, code, CRC (2)
    if (function_byte & 0x80)
        return 5;
    switch (asked.shape) {
    case ReplyShape::registers: // address, function, byte count, 2 a register, CRC (2)
        return 5 + 2 * asked.count;
    case ReplyShape::address_bytes: // address, function, start (2), byte count, data, CRC (2)
        return 7 + asked.count;
    }
    return 0;
}

int reply_expected(const Modbus &m)
{
    return m.in_flight.isEmpty() ? 0 : reply_length(m.in_flight_record, 0);
}

bool reply_fits(const RequestRecord &asked, const RxBuf &rx_buf, int n)
{
    if (n < 2 || n != reply_length(asked, uint8_t(rx_buf[1])))
        return false;
    if (rx_buf[1] & 0x80)
        return true;
    switch (asked.shape) {
    case ReplyShape::registers:
        return rx_buf[2] == 2 * asked.count;
    case ReplyShape::address_bytes:
        return rx_word(rx_buf, 2) == asked.start && rx_buf[4] == asked.count;
    }
    return false;
}

int target_of(const Modbus &m, int slot)
{
    const int16_t t = m.ring.record(slot).target;
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

void next_generation(Modbus &m)
{
    ++m.generation;
    m.in_flight.clear();
    m.in_flight_ms = 0;
}

Exchange exchange_step(Modbus &m)
{
    Exchange e;
    e.port_open = m.port->is_open();
    e.noise = drain(m);
    e.reply = received_bytes(m);
    e.reply_ms = m.rx_count > 0 ? m.port->last_byte_ms() : 0;
    e.request = m.in_flight;
    e.asked = m.in_flight_record;
    e.request_ms = m.in_flight_ms;
    m.in_flight.clear();
    m.in_flight_ms = 0;

    e.verdict = judge(m, e.request, e.asked);
    if (e.verdict == Verdict::good) {
        advance_read_idx(m.ring);
        e.exception_code = exception_code(m);
    } else if (!e.request.isEmpty() && e.asked.once && !m.ring.empty() &&
               m.ring.record(m.ring.req_read_idx).once) {
        advance_read_idx(m.ring);
    }
    send_next(m, e);
    return e;
}

void send_next(Modbus &m, Exchange &e)
{
    if (m.ring.empty() && !m.idle_pdu.empty()) {
        RequestRecord idle = m.idle_record;
        idle.function = m.idle_pdu.front();
        idle.generation = m.generation;
        if (!m.idle_targets.empty())
            idle.target = int16_t(m.idle_targets[m.idle_next++ % m.idle_targets.size()]);
        push(m.ring, idle, std::span(m.idle_pdu).subspan(1));
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
    m.in_flight_record = m.ring.record(head);
    m.in_flight_ms = QDateTime::currentMSecsSinceEpoch();
    e.sent = m.in_flight;
    e.sent_ms = m.in_flight_ms;
}
