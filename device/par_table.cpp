#include "par_table.h"

void par_table_init(ParTable &table)
{
    table.entries = {{
        {"trim_ia", 257, 1, 1.0},
        {"trim_ib", 258, 1, 1.0},
        {"trim_ic", 259, 1, 1.0},
        {"imax_timed", 260, 2, 1.0 / 1000},
        {"timer_s", 262, 2, 1.0 / 10},
        {"imax_instant", 264, 2, 1.0 / 1000},
        {"ct_amps", 266, 2, 1.0 / 10},
        {"current_offset", 268, 2, 1.0 / 1000},
        {"relay_mode", 270, 1, 1.0},
    }};
    table.built = true;
}

int par_index_of(const ParTable &t, int address)
{
    int j = par_none;
    for (int i = 0; i < par_count; ++i) {
        if (par_addr(t, i) == address)
            j = i;
    }
    return j;
}

namespace {

struct ParText {
    const char *caption;
    const char *unit;
};

const ParText par_texts[par_count] = {
    {"Подстр.IA, %", "%"},    {"Подстр.IB, %", "%"},     {"Подстр.IC, %", "%"},
    {"Макс I (тмр), А", "А"}, {"Таймер, с", "с"},        {"Макс I (мгн), А", "А"},
    {"Тр-р тока, А", "А"},    {"Смещение тока, А", "А"}, {"Реле(0-АПС, 1-Упр)", ""},
};

} // namespace

const char *par_caption(int i)
{
    return par_texts[i].caption;
}
const char *par_unit(int i)
{
    return par_texts[i].unit;
}
