#include "master.h"

#include "registers.h"

#include <QDateTime>

Master::Master(SerialPort &port, QObject *parent) : QObject(parent)
{
    m_modbus.port = &port;
    m_modbus.idle_pdu = measurement_poll_pdu();
    m_modbus.idle_record = measurement_poll_record(request_for(Purpose::poll));
}

void Master::exchange_step()
{
    const Exchange e = ::exchange_step(m_modbus);
    emit exchanged(e);
    if (e.verdict != Verdict::good)
        return;
    Reply r = decode_reply(m_modbus.rx_buf, m_modbus.rx_count, m_table, e.asked);
    r.exception_code = e.exception_code;
    r.time_ms = e.reply_ms > 0 ? e.reply_ms : QDateTime::currentMSecsSinceEpoch();
    if (r.measurement) {
        r.measurement->time_ms = r.time_ms;
        r.measurement->address = r.address;
    }
    // What is shown as the controller's comes from its memory, not from the
    // echo of a write.
    if (e.exception_code < 0 && purpose_of(e.asked) == Purpose::write)
        read_back(e.asked);
    emit replied(r);
}

// The group the write carried, read from the memory: from the write's
// record, for the same controller, under the same id.
void Master::read_back(const RequestRecord &write)
{
    RequestRecord base = write;
    base.purpose = uint8_t(Purpose::read_back);
    par_read_request(m_modbus.ring, write.start, uint8_t(write.count), base);
}

void Master::set_polling(bool on, const std::vector<int> &addresses)
{
    m_modbus.idle_pdu = on ? measurement_poll_pdu() : std::vector<uint8_t>{};
    m_modbus.idle_targets = addresses;
    m_modbus.idle_next = 0;
}

void Master::par_table_init()
{
    ::par_table_init(m_table);
}

bool Master::par_readall(const RequestRecord &base)
{
    return ::par_readall(m_modbus.ring, m_table, base);
}

WriteAllResult Master::par_writeall(const ParTexts &texts, const ParKnown &confirmed,
                                    const RequestRecord &base)
{
    return ::par_writeall(m_modbus.ring, m_table, texts, confirmed, base);
}

bool Master::par_writeall(const ParRaws &raws, const RequestRecord &base)
{
    return ::par_writeall(m_modbus.ring, m_table, raws, base);
}

Queued Master::par_write(int index, const QString &text, const RequestRecord &base, int32_t *raw)
{
    const auto value = par_text_raw(m_table, index, text);
    if (!value)
        return Queued::no_number;
    if (raw != nullptr)
        *raw = *value;
    return par_write_request(m_modbus.ring, par_addr(m_table, index), *value,
                             par_width(m_table, index), base)
               ? Queued::yes
               : Queued::ring_full;
}

bool Master::par_write_raw(int index, int32_t raw, const RequestRecord &base)
{
    return par_write_request(m_modbus.ring, par_addr(m_table, index), raw,
                             par_width(m_table, index), base);
}

bool Master::ask_measurement(const RequestRecord &base)
{
    const std::vector<uint8_t> poll = measurement_poll_pdu();
    return push(m_modbus.ring, measurement_poll_record(base), std::span(poll).subspan(1));
}

int Master::pending_writes() const
{
    int n = 0;
    for (int k = 0; k < m_modbus.ring.pending(); ++k)
        n += purpose_of(m_modbus.ring.record(m_modbus.ring.slot(k))) == Purpose::write ? 1 : 0;
    return n;
}

QList<TakenRequest> Master::take_requests(const std::function<bool(const RequestRecord &)> &which)
{
    QList<TakenRequest> taken;
    drop_requests(m_modbus, [&](int slot) {
        const RequestRecord &r = m_modbus.ring.record(slot);
        if (!which(r))
            return false;
        const auto &bytes = m_modbus.ring.req_queue[size_t(slot)];
        const auto len = size_t(m_modbus.ring.req_len[size_t(slot)]);
        taken.append({std::vector<uint8_t>(bytes.begin() + 1, bytes.begin() + 1 + long(len)), r});
        return true;
    });
    return taken;
}

bool Master::put_back(const TakenRequest &request, uint32_t generation)
{
    if (request.pdu.empty())
        return false;
    RequestRecord r = request.record;
    r.generation = generation;
    return push(m_modbus.ring, r, std::span(request.pdu).subspan(1));
}
