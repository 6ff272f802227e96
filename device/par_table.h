#pragma once
// The controller's nine setting parameters. They occupy bytes 257..270 of its
// parameter memory with no gap, each unsigned, most significant byte first.
// The index is also the index of the parameter's box in the window.

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

constexpr int par_count = 9;
constexpr int par_none = 255;

struct ParEntry {
    const char *id; // the name files and scripts use: "timer_s"
    uint16_t par_addr;
    uint8_t par_width;   // 1 or 2 bytes
    double par_scale;    // shown value = raw × scale
    const char *caption; // UTF-8, beside the box in the window: "Таймер, с"
    const char *unit;    // UTF-8: "с"; empty for the relay mode
    const char *meaning; // UTF-8, what the values stand for, where they are codes
};

// The one description of the parameters; every table and every text about a
// parameter comes from here.
extern const std::array<ParEntry, par_count> par_entries;

// The table the master reads replies with; built at start-up.
struct ParTable {
    std::array<ParEntry, par_count> entries{};
    bool built = false;
};

void par_table_init(ParTable &table);

inline uint16_t par_addr(const ParTable &t, int i)
{
    return t.entries[size_t(i)].par_addr;
}
inline uint8_t par_width(const ParTable &t, int i)
{
    return t.entries[size_t(i)].par_width;
}
inline double par_scale(const ParTable &t, int i)
{
    return t.entries[size_t(i)].par_scale;
}
inline const char *par_id(const ParTable &t, int i)
{
    return t.entries[size_t(i)].id;
}

// Index of the entry at this address (the last one, should two share it),
// or par_none.
int par_index_of(const ParTable &t, int address);
// Index of the parameter with this id; -1 for none.
int par_index(std::string_view id);

// The caption beside the parameter's box, with its unit ("Таймер, с"), and the
// unit alone ("с"; empty for the relay mode).
QString par_caption(int i);
QString par_unit(int i);

// The value as a box shows it: raw × scale with at most 3 decimals, the
// user's decimal separator and one trailing space ("12,5 ").
QString par_value_text(int i, int32_t raw);
// The same number for files: raw × scale rounded to those 3 decimals, the
// double nearest to that decimal (0.3, not 0.30000000000000004).
double par_value(int i, int32_t raw);
// What a parameter file or sheet shows: the value with its unit ("12,5 с"),
// or for a code its meaning ("1 — Упр").
QString par_display(int i, int32_t raw);

inline int32_t par_raw_low(const ParTable &, int)
{
    return 0;
}
inline int32_t par_raw_high(const ParTable &t, int i)
{
    return par_width(t, i) == 1 ? 255 : 65535;
}
