#pragma once
// A good reply read as what the controller said, for the request it answers:
// the request's record says what was asked and why, and the reply has been
// checked against it (address, function, length, count and start).

#include "convert.h"
#include "par_table.h"
#include "readings.h"
#include "request_ring.h"

#include <QList>
#include <QMetaType>

#include <optional>

struct Reply {
    RequestRecord asked;                    // the request it answers
    int address = -1;                       // the slave address that answered
    int exception_code = -1;                // an exception reply: its code, and nothing else in it
    qint64 time_ms = 0;                     // when its last byte came
    std::optional<Measurement> measurement; // function 3 from register 200
    QList<ParConfirmation> parameters;      // functions 100 and 101
};

Q_DECLARE_METATYPE(Reply)

Reply decode_reply(const RxBuf &rx_buf, int rx_count, const ParTable &table,
                   const RequestRecord &asked);
