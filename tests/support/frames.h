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

// What a PDU given as bytes asks, as its producer would have typed it:
// function 3 its registers, the controller's 100 and 101 their bytes.
inline RequestRecord record_of(const QByteArray &pdu, int16_t target = any_address)
{
    RequestRecord r;
    r.function = uint8_t(pdu[0]);
    r.target = target;
    if (pdu.size() >= 5 && r.function == 3) {
        r.start = uint16_t(uint8_t(pdu[1]) * 256 + uint8_t(pdu[2]));
        r.count = uint16_t(uint8_t(pdu[3]) * 256 + uint8_t(pdu[4]));
    } else if (pdu.size() >= 4) {
        r.shape = ReplyShape::address_bytes;
        r.start = uint16_t(uint8_t(pdu[1]) * 256 + uint8_t(pdu[2]));
        r.count = uint8_t(pdu[3]);
    }
    return r;
}

// Queues a PDU given as bytes (function code first).
inline bool push_pdu(RequestRing &ring, const QByteArray &pdu, int16_t target = any_address)
{
    std::vector<uint8_t> body(pdu.begin() + 1, pdu.end());
    return push(ring, record_of(pdu, target), body);
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
