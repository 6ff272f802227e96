#include "mbap_reader.h"

#include "crc.h"

#include <utility>

namespace {

constexpr int min_length = 2; // unit id, function code

int be16(const QByteArray &b, qsizetype at)
{
    return quint8(b[at]) << 8 | quint8(b[at + 1]);
}

} // namespace

void MbapReader::await(quint16 transaction)
{
    m_transaction = transaction;
    m_awaited = true;
}

bool MbapReader::feed(const QByteArray &bytes)
{
    if (m_broken) {
        m_dropped += int(bytes.size());
        return false;
    }
    m_raw += bytes;
    while (take_frame()) {
    }
    return !m_broken;
}

bool MbapReader::take_frame()
{
    if (m_raw.size() < header_size)
        return false;
    const int length = be16(m_raw, 4);
    if (be16(m_raw, 2) != 0 || length < min_length || length > max_length) {
        m_dropped += int(m_raw.size());
        m_raw.clear();
        m_broken = true;
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
        m_rtu += rtu;
    } else {
        m_dropped += int(size);
    }
    m_raw.remove(0, size);
    return true;
}

QByteArray MbapReader::take_rtu()
{
    return std::exchange(m_rtu, {});
}

int MbapReader::take_dropped()
{
    return std::exchange(m_dropped, 0);
}

void MbapReader::reset()
{
    m_awaited = false;
    m_broken = false;
    m_raw.clear();
    m_rtu.clear();
}
