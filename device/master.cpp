#include "master.h"

#include "decode.h"
#include "registers.h"

#include <QDateTime>

Master::Master(SerialPort &port, QObject *parent) : QObject(parent)
{
    m_link.port = &port;
    m_link.idle_pdu = measurement_poll_pdu();
}

void Master::exchange_step()
{
    DecodedReply decoded;
    // The slot of the request a good reply answers: the head before the tick.
    const int head = m_link.ring.req_read_idx;
    const bool asked = !m_link.ring.empty();
    const Exchange e = ::exchange_step(
        m_link, [&](const Modbus &m) { decoded = decode_reply(m.rx_buf, m.rx_count, m_table); });
    emit exchanged(e);
    if (e.verdict != Verdict::good)
        return;
    if (decoded.measurement) {
        Measurement &m = *decoded.measurement;
        m.time_ms = e.reply_ms > 0 ? e.reply_ms : QDateTime::currentMSecsSinceEpoch();
        emit measured(m);
    }
    if (asked && m_read_back && e.exception_code < 0 && is_write(head))
        read_back(head);
    for (const ParConfirmation &c : std::as_const(decoded.parameters))
        emit parameter_confirmed(c);
}

bool Master::is_write(int slot) const
{
    return m_link.ring.req_queue[size_t(slot)][1] == fn_par_write;
}

// 100, the write's address high and low, its byte count; to the same target.
void Master::read_back(int slot)
{
    const auto &s = m_link.ring.req_queue[size_t(slot)];
    const int address = s[2] * 256 + s[3];
    par_read_request(m_link.ring, address, s[4], m_link.ring.req_target[size_t(slot)]);
}

void Master::set_polling(bool on, const std::vector<int> &addresses)
{
    m_link.idle_pdu = on ? measurement_poll_pdu() : std::vector<uint8_t>{};
    m_link.idle_targets = addresses;
    m_link.idle_next = 0;
}

void Master::par_table_init()
{
    ::par_table_init(m_table);
}

bool Master::par_readall(int target)
{
    return ::par_readall(m_link.ring, m_table, int16_t(target));
}

WriteAllResult Master::par_writeall(const ParTexts &texts, const ParKnown &confirmed)
{
    return ::par_writeall(m_link.ring, m_table, texts, confirmed);
}

bool Master::par_writeall(const ParRaws &raws, int target)
{
    return ::par_writeall(m_link.ring, m_table, raws, int16_t(target));
}

Queued Master::par_write(int index, const QString &text)
{
    const auto raw = par_text_raw(m_table, index, text);
    if (!raw)
        return Queued::no_number;
    return par_write_request(m_link.ring, par_addr(m_table, index), *raw, par_width(m_table, index))
               ? Queued::yes
               : Queued::ring_full;
}

bool Master::ask_measurement(int target)
{
    const std::vector<uint8_t> poll = measurement_poll_pdu();
    return push(m_link.ring, poll.front(), std::span(poll).subspan(1), int16_t(target));
}

int Master::pending_writes() const
{
    int n = 0;
    for (int k = 0; k < m_link.ring.pending(); ++k)
        n += is_write(m_link.ring.slot(k)) ? 1 : 0;
    return n;
}

QList<int> Master::cancel_writes()
{
    QList<int> indices;
    drop_requests(m_link, [&](int slot) {
        if (!is_write(slot))
            return false;
        const auto &s = m_link.ring.req_queue[size_t(slot)];
        for (int i : par_indices(m_table, s[2] * 256 + s[3], s[4])) {
            if (!indices.contains(i))
                indices.append(i);
        }
        return true;
    });
    std::sort(indices.begin(), indices.end());
    return indices;
}
