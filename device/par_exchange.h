#pragma once
// Requests that move the parameters between the boxes and the controller's
// parameter memory. They only queue requests; replies are shown by the decoder.

#include "par_table.h"

#include <cstdint>
#include <functional>
#include <vector>

struct RequestRing;
class ParBox;

constexpr uint8_t fn_par_read = 100;
constexpr uint8_t fn_par_write = 101;

// Neighbouring parameters sent in one request: at most four, with no gap.
struct ParGroup {
    int first;
    int count;
    int bytes; // sum of the members' widths
};
std::vector<ParGroup> par_groups(const ParTable &table);

// 100, address high, low, n (at most 8). False when the ring was full.
bool par_read_request(RequestRing &ring, int32_t address, uint8_t n);
// 101, address high, low, n (at most 4), then the n low bytes of value from
// the most significant down. False when the ring was full.
bool par_write_request(RequestRing &ring, int32_t address, int32_t value, uint8_t n);

using BoxAt = std::function<const ParBox &(int index)>;

// Raw value of box i, validated against the parameter's width and scale.
int32_t par_box_raw(const ParTable &table, int i, const ParBox &box);

void par_readall(RequestRing &ring, const ParTable &table);
void par_writeall(RequestRing &ring, const ParTable &table, const BoxAt &box);
