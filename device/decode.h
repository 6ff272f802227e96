#pragma once
// A good reply read as what the controller said. The function code alone
// decides what a reply means; the request that was sent is not consulted.

#include "convert.h"
#include "par_table.h"
#include "readings.h"

#include <QList>

#include <optional>

struct DecodedReply {
    std::optional<Measurement> measurement; // function 3
    QList<ParConfirmation> parameters;      // functions 100 and 101
};

DecodedReply decode_reply(const RxBuf &rx_buf, int rx_count, const ParTable &table);
