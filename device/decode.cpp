#include "decode.h"

#include "par_exchange.h"
#include "registers.h"

namespace {

// Functions 100 and 101: address high, low; byte count n; n data bytes,
// parameter after parameter from that address on, each high byte first.
// Only bytes of this reply are used (the two after its data are the CRC),
// and a reply never runs past the last parameter.
QList<ParConfirmation> decode_parameters(const RxBuf &rx_buf, int rx_count, const ParTable &table)
{
    QList<ParConfirmation> out;
    const int last_data = rx_count - 3;
    if (!table.built || last_data < 4)
        return out;
    int j = par_index_of(table, rx_word(rx_buf, 2));
    if (j == par_none)
        return out;
    const int n = rx_buf[4];
    const bool read = rx_buf[1] == fn_par_read;
    int r = n;
    while (r >= 1 && j < par_count) {
        const int width = par_width(table, j);
        const int start = 5 + (n - r);
        if (start + width - 1 > last_data)
            break;
        out.append({j, rx_value(rx_buf, start, uint8_t(width)), read, rx_buf[0]});
        r -= width;
        ++j;
    }
    return out;
}

} // namespace

Reply decode_reply(const RxBuf &rx_buf, int rx_count, const ParTable &table,
                   const RequestRecord &asked)
{
    Reply d;
    d.asked = asked;
    if (rx_count < 2)
        return d;
    d.address = rx_buf[0];
    const int f = rx_buf[1];
    if (f > 127) {
        d.exception_code = rx_count >= 5 ? rx_buf[2] : -1;
        return d;
    }
    if (f == 3 && asked.start == measurement_first_register)
        d.measurement = decode_measurement(rx_buf, rx_count);
    else if (f == fn_par_read || f == fn_par_write)
        d.parameters = decode_parameters(rx_buf, rx_count, table);
    return d;
}
