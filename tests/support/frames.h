#pragma once
// Frames written as hex strings, with the CRC appended the way the wire has it.

#include "modbus.h"

#include <vector>

#include <QByteArray>
#include <QTest>

inline QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

inline QByteArray with_crc(const QByteArray &body)
{
    const uint16_t crc = crc16(body, int(body.size()) - 1);
    return body + char(crc & 0xFF) + char(crc >> 8);
}

// Queues a PDU given as bytes (function code first).
inline bool push_pdu(RequestRing &ring, const QByteArray &pdu)
{
    std::vector<uint8_t> body(pdu.begin() + 1, pdu.end());
    return push(ring, uint8_t(pdu[0]), body);
}

// PDU bytes 1..req_len of a ring slot.
inline QByteArray pdu_at(const RequestRing &ring, int slot)
{
    QByteArray out;
    for (int i = 1; i <= ring.req_len[size_t(slot)]; ++i)
        out.append(char(ring.req_queue[size_t(slot)][size_t(i)]));
    return out;
}

#define COMPARE_HEX(got, want)                                                                     \
    QVERIFY2((got) == (want), qPrintable((got).toHex(' ') + " != " + (want).toHex(' ')))
