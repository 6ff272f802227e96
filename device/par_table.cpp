#include "par_table.h"

#include "convert.h"

#include <QStringList>

#include <cmath>

const std::array<ParEntry, par_count> par_entries = {{
    {"trim_ia", 257, 1, 1.0, "Подстр.IA, %", "%", ""},
    {"trim_ib", 258, 1, 1.0, "Подстр.IB, %", "%", ""},
    {"trim_ic", 259, 1, 1.0, "Подстр.IC, %", "%", ""},
    {"imax_timed", 260, 2, 1.0 / 1000, "Макс I (тмр), А", "А", ""},
    {"timer_s", 262, 2, 1.0 / 10, "Таймер, с", "с", ""},
    {"imax_instant", 264, 2, 1.0 / 1000, "Макс I (мгн), А", "А", ""},
    {"ct_amps", 266, 2, 1.0 / 10, "Тр-р тока, А", "А", ""},
    {"current_offset", 268, 2, 1.0 / 1000, "Смещение тока, А", "А", ""},
    {"relay_mode", 270, 1, 1.0, "Реле(0-АПС, 1-Упр)", "", "0 — АПС, 1 — Упр"},
}};

void par_table_init(ParTable &table)
{
    table.entries = par_entries;
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

int par_index(std::string_view id)
{
    for (int i = 0; i < par_count; ++i) {
        if (id == par_entries[size_t(i)].id)
            return i;
    }
    return -1;
}

QString par_caption(int i)
{
    return QString::fromUtf8(par_entries[size_t(i)].caption);
}

QString par_unit(int i)
{
    return QString::fromUtf8(par_entries[size_t(i)].unit);
}

QString par_value_text(int i, int32_t raw)
{
    return format_scaled(raw, par_entries[size_t(i)].par_scale, 3, QString());
}

double par_value(int i, int32_t raw)
{
    return std::round(raw * par_entries[size_t(i)].par_scale * 1000) / 1000;
}

QString par_display(int i, int32_t raw)
{
    const QString value = par_value_text(i, raw).trimmed();
    const QString meaning = QString::fromUtf8(par_entries[size_t(i)].meaning);
    if (!meaning.isEmpty()) {
        // "0 — АПС, 1 — Упр": the code's own entry, where there is one.
        for (const QString &entry : meaning.split(QStringLiteral(", "))) {
            if (entry.startsWith(value + QStringLiteral(" — ")))
                return entry;
        }
        return value;
    }
    const QString unit = par_unit(i);
    return unit.isEmpty() ? value : value + QLatin1Char(' ') + unit;
}
