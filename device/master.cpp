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
    const Exchange e = ::exchange_step(
        m_link, [&](const Modbus &m) { decoded = decode_reply(m.rx_buf, m.rx_count, m_table); });
    emit exchanged(e);
    if (decoded.measurement) {
        Measurement &m = *decoded.measurement;
        m.time_ms = e.reply_ms > 0 ? e.reply_ms : QDateTime::currentMSecsSinceEpoch();
        emit measured(m);
    }
    for (const ParConfirmation &c : std::as_const(decoded.parameters))
        emit parameter_confirmed(c);
}

void Master::par_table_init()
{
    ::par_table_init(m_table);
}

void Master::par_readall()
{
    ::par_readall(m_link.ring, m_table);
}

QList<int> Master::par_writeall(const ParTexts &texts)
{
    return ::par_writeall(m_link.ring, m_table, texts);
}

void Master::par_writeall(const ParRaws &raws)
{
    ::par_writeall(m_link.ring, m_table, raws);
}

bool Master::par_write(int index, const QString &text)
{
    const auto raw = par_text_raw(m_table, index, text);
    if (!raw)
        return false;
    par_write_request(m_link.ring, par_addr(m_table, index), *raw, par_width(m_table, index));
    return true;
}
