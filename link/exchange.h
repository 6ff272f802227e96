#pragma once
// One tick of the RTU master as plain data: what came back, how it was judged,
// and what was sent next. Times are wall-clock milliseconds since the epoch.

#include "request_ring.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

enum class Verdict {
    good,         // the answer to the request out: good CRC, its address, function and length
    crc_mismatch, // 3 or more bytes that fail the CRC
    no_answer,    // fewer than 3 bytes
    // A frame with a good CRC that answers something else: another slave
    // address or function than the request out, a request made for the
    // controller the line talked to before, or nothing was asked. It is no
    // answer to the head request, which stays and is sent again.
    unmatched,
    // From the address and with the function asked, CRC good, but not the
    // length, byte count or start address the request implies: never data.
    // The request stays and is sent again.
    malformed,
};

struct Exchange {
    bool port_open = false; // the port was open when the tick began
    Verdict verdict = Verdict::no_answer;
    QByteArray reply;    // bytes taken in this tick (at most 255 kept)
    qint64 reply_ms = 0; // when the last of them arrived; 0 when none did
    // Bytes that came beyond what any frame can hold and were dropped
    // unread: a chattering line.
    int noise = 0;
    QByteArray request;      // the frame this reply answers; empty when none went out
    RequestRecord asked;     // what that frame asked; valid when request is not empty
    qint64 request_ms = 0;   // when it was sent
    int exception_code = -1; // a good reply with the function's high bit set: its code
    QByteArray sent;         // frame sent at the end of the tick; empty when the port was closed
    qint64 sent_ms = 0;

    // Milliseconds from the request to the last byte of the reply; -1 when unknown.
    qint64 response_ms() const
    {
        return reply_ms > 0 && request_ms > 0 && reply_ms >= request_ms ? reply_ms - request_ms
                                                                        : -1;
    }
};

Q_DECLARE_METATYPE(Exchange)

// What a Modbus exception code says, in the operator's words: "отказ
// устройства" for 4, "шлюз: устройство не ответило" for 11; empty for a
// code the protocol does not name.
QString exception_meaning(int code);
