#include "link_view.h"
#include "modbus.h"
#include "par_table.h"

namespace {

// Last position of the current reply that holds data (the two after it are
// the CRC). Bytes past it are leftovers of earlier replies and are never used.
int last_data_pos(const Modbus &m)
{
    return m.rx_count - 3;
}

bool carried(const Modbus &m, int first, int count)
{
    return first + count - 1 <= last_data_pos(m);
}

void show_version(Modbus &m, Caption which, int pos)
{
    if (!carried(m, pos, 2))
        return;
    const int major = m.rx_buf[size_t(pos)];
    const int minor = m.rx_buf[size_t(pos) + 1];
    m.view->set_caption(which, format_scaled(major, 1, 0, QString()));
    const QString minor_text = format_scaled(minor, 1, 0, QString());
    const QString joint = minor > 9 ? QStringLiteral(".") : QStringLiteral(".0");
    m.view->set_caption(which, m.view->caption(which) + joint + minor_text);
}

void show_scaled(Modbus &m, Caption which, int reg, double factor, int digits)
{
    const int pos = reg_data_pos(reg);
    if (!carried(m, pos, 2))
        return;
    m.view->set_caption(which, format_scaled(rx_word(m.rx_buf, pos), factor, digits, QString()));
}

// Function 3: the block of ten registers from 200.
void decode_measurements(Modbus &m)
{
    show_version(m, Caption::pr_ver, 5);
    show_version(m, Caption::sw_ver, 7);
    show_scaled(m, Caption::phAI, 4, 1.0 / 1000, 3);
    show_scaled(m, Caption::phBI, 5, 1.0 / 1000, 3);
    show_scaled(m, Caption::phCI, 6, 1.0 / 1000, 3);
    show_scaled(m, Caption::fr, 7, 1.0 / 100, 2);
    show_scaled(m, Caption::ain_0, 8, 1, 2);
    show_scaled(m, Caption::ain_1, 9, 1, 2);
}

// Functions 100 and 101: address high, low; byte count n; n data bytes,
// parameter after parameter from that address on, each high byte first.
void decode_parameters(Modbus &m)
{
    if (m.table == nullptr || !m.table->built || !carried(m, 2, 3))
        return;
    int j = par_index_of(*m.table, rx_word(m.rx_buf, 2));
    if (j == par_none)
        return;
    const int n = m.rx_buf[4];
    int r = n;
    while (r >= 1 && j < par_count) {
        const int width = par_width(*m.table, j);
        const int start = 5 + (n - r);
        if (!carried(m, start, width))
            break;
        show_value(m.view->par_box(j), rx_value(m.rx_buf, start, uint8_t(width)), 3,
                   par_scale(*m.table, j), QString());
        r -= width;
        ++j;
    }
}

} // namespace

void decode_reply(Modbus &m)
{
    const int f = m.rx_buf[1];
    if (f == 3) {
        decode_measurements(m);
    } else if (f == 100 || f == 101) {
        decode_parameters(m);
    } else if (f > 127) {
        m.view->set_status(m.view->status() + QStringLiteral(" Нарушение протокола, код: ") +
                           QString::number(m.rx_buf[2]));
    }
}
