#pragma once
// Requests that move the nine parameters between the operator's texts and
// the controller's parameter memory. They only queue requests; what the
// controller returns arrives later through the decoder.

#include "par_table.h"

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

struct RequestRing;

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

// Raw value of parameter i from the operator's text: scaled, rounded and
// clamped into the parameter's range. None when the text holds no number.
std::optional<int32_t> par_text_raw(const ParTable &table, int i, const QString &text);

using ParTexts = std::array<QString, par_count>;
using ParRaws = std::array<int32_t, par_count>;

void par_readall(RequestRing &ring, const ParTable &table);
// Queues the grouped writes of all nine parameters, leaving out every group
// with a text that holds no number. Returns the indices of those texts.
QList<int> par_writeall(RequestRing &ring, const ParTable &table, const ParTexts &texts);
// The same from raw values, which must lie in their parameters' ranges.
void par_writeall(RequestRing &ring, const ParTable &table, const ParRaws &raws);
