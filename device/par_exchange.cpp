#include "par_exchange.h"

#include "convert.h"
#include "request_ring.h"

namespace {
constexpr int group_max_members = 4;
constexpr uint8_t read_max_bytes = 8;
constexpr uint8_t write_max_bytes = 4;
// Slot bytes 0..3: unsent address place, function, start address high, low.
std::array<uint8_t, slot_bytes> &start_request(RequestRing &ring, uint8_t function,
                                               int32_t address)
{
    auto &slot = ring.write_slot();
    slot[0] = 0;
    slot[1] = function;
    slot[2] = byte_of(address, 1);
    slot[3] = byte_of(address, 0);
    return slot;
}

} // namespace

std::vector<ParGroup> par_groups(const ParTable &table)
{
    std::vector<ParGroup> groups;
    int p = 0;
    while (p < par_count) {
        ParGroup g{p, 0, 0};
        for (int k = 0;; ++k) {
            const int i = p + k;
            g.bytes += par_width(table, i);
            g.count = k + 1;
            if (k == group_max_members - 1 || i == par_count - 1 ||
                par_addr(table, i + 1) != par_addr(table, i) + par_width(table, i))
                break;
        }
        groups.push_back(g);
        p += g.count;
    }
    return groups;
}

bool par_read_request(RequestRing &ring, int32_t address, uint8_t n)
{
    if (n > read_max_bytes)
        n = read_max_bytes;
    auto &slot = start_request(ring, fn_par_read, address);
    slot[4] = n;
    ring.req_len[size_t(ring.req_write_idx)] = 4;
    return advance_write_idx(ring);
}

bool par_write_request(RequestRing &ring, int32_t address, int32_t value, uint8_t n)
{
    if (n > write_max_bytes)
        n = write_max_bytes;
    auto &slot = start_request(ring, fn_par_write, address);
    slot[4] = n;
    for (int k = 0; k < n; ++k)
        slot[size_t(5 + k)] = byte_of(value, uint8_t(n - 1 - k));
    ring.req_len[size_t(ring.req_write_idx)] = 4 + n;
    return advance_write_idx(ring);
}

int32_t par_box_raw(const ParTable &table, int i, const ParBox &box)
{
    return text_to_raw(box, par_raw_low(table, i), par_raw_high(table, i), par_scale(table, i));
}

void par_readall(RequestRing &ring, const ParTable &table)
{
    for (const ParGroup &g : par_groups(table))
        par_read_request(ring, par_addr(table, g.first), uint8_t(g.bytes));
}

void par_writeall(RequestRing &ring, const ParTable &table, const BoxAt &box)
{
    for (const ParGroup &g : par_groups(table)) {
        auto &slot = start_request(ring, fn_par_write, par_addr(table, g.first));
        size_t pos = 5;
        for (int i = g.first; i < g.first + g.count; ++i) {
            const int32_t raw = par_box_raw(table, i, box(i));
            if (par_width(table, i) == 2)
                slot[pos++] = byte_of(raw, 1);
            slot[pos++] = byte_of(raw, 0);
        }
        slot[4] = uint8_t(g.bytes);
        ring.req_len[size_t(ring.req_write_idx)] = 4 + g.bytes;
        advance_write_idx(ring);
    }
}
