#include "link_view.h"
#include "modbus.h"
#include "serial_port.h"

const QString text_link_ok = QStringLiteral("Связь с контроллером RZT-604Д установлена");
const QString text_crc_mismatch = QStringLiteral("Ошибка обмена: Несовпадение КС");
const QString text_no_answer = QStringLiteral("Ошибка обмена: Нет ответа от контроллера RZT-604Д");

namespace {
constexpr int rx_keep = 255; // bytes kept per tick; the rest is drained and dropped
constexpr int default_poll_register = 200;
constexpr int default_poll_count = 10;
} // namespace

uint8_t read_rx_byte(Modbus &m)
{
    return m.port->read_byte();
}

void exchange_step(Modbus &m)
{
    m.rx_count = 0;
    while (m.port->bytes_waiting() > 0) {
        const uint8_t b = read_rx_byte(m);
        if (m.rx_count < rx_keep)
            m.rx_buf[m.rx_count++] = b;
    }

    if (m.rx_count <= 2) {
        m.view->set_status(text_no_answer);
    } else {
        const int n = m.rx_count;
        const int received = m.rx_buf[size_t(n - 1)] * 256 + m.rx_buf[size_t(n - 2)];
        if (received == crc16(m.rx_buf, n - 3)) {
            m.view->set_status(text_link_ok);
            advance_read_idx(m.ring);
            decode_reply(m);
        } else {
            m.view->set_status(text_crc_mismatch);
        }
    }
    send_next(m);
}

void enqueue_default_poll(RequestRing &ring)
{
    auto &slot = ring.write_slot();
    slot[0] = 0;
    slot[1] = 3;
    slot[2] = byte_of(default_poll_register, 1);
    slot[3] = byte_of(default_poll_register, 0);
    slot[4] = byte_of(default_poll_count, 1);
    slot[5] = byte_of(default_poll_count, 0);
    ring.req_len[size_t(ring.req_write_idx)] = 5;
    advance_write_idx(ring);
}

void send_next(Modbus &m)
{
    if (m.ring.empty())
        enqueue_default_poll(m.ring);

    const auto head = size_t(m.ring.req_read_idx);
    const int len = m.ring.req_len[head];
    // A slave address must be selected to build a frame; with none there is
    // nothing sensible to send, and the head stays for the next tick.
    const int address = m.view->selected_address();
    if (len < 1 || len > 254 || address < 0 || address > 255)
        return;

    // address byte + PDU + 2 bytes CRC
    m.tx_frame.assign(size_t(len) + 3, 0);
    m.tx_frame[0] = uint8_t(address);
    for (int i = 1; i <= len; ++i)
        m.tx_frame[size_t(i)] = m.ring.req_queue[head][size_t(i)];
    const uint16_t crc = crc16(m.tx_frame, len);
    m.tx_frame[size_t(len) + 1] = byte_of(crc, 0);
    m.tx_frame[size_t(len) + 2] = byte_of(crc, 1);

    if (m.port->is_open())
        m.port->write_frame(m.tx_frame);
}
