#pragma once
// The controller's nine setting parameters. They occupy bytes 257..270 of its
// parameter memory with no gap, each unsigned, most significant byte first.
// The index is also the index of the parameter's box in the window.

#include <array>
#include <cstddef>
#include <cstdint>

constexpr int par_count = 9;
constexpr int par_none = 255;

struct ParEntry {
    const char *id;
    uint16_t par_addr;
    uint8_t par_width; // 1 or 2 bytes
    double par_scale;  // shown value = raw × scale
};

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

// The caption beside the parameter's box, with its unit ("Таймер, с"), and the
// unit alone ("с"; empty for the relay mode), both UTF-8. The window, the
// parameter file and the commissioning report all take them from here.
const char *par_caption(int i);
const char *par_unit(int i);

inline int32_t par_raw_low(const ParTable &, int)
{
    return 0;
}
inline int32_t par_raw_high(const ParTable &t, int i)
{
    return par_width(t, i) == 1 ? 255 : 65535;
}
