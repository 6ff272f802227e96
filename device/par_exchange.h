#pragma once
// Requests that move the nine parameters between the operator's texts and
// the controller's parameter memory. They only queue requests; what the
// controller returns arrives later through the decoder.

#include "par_table.h"
#include "request_ring.h"

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

constexpr uint8_t fn_par_read = 100;
constexpr uint8_t fn_par_write = 101;

// Why a request was made; carried in its record, so that its reply is
// taken for what it answers.
enum class Purpose : uint8_t {
    poll,      // the measurement block
    read,      // parameters, for what the memory holds
    write,     // parameters written
    read_back, // the memory read again after a write's echo: what it kept
    compare,   // parameters read afresh to compare with a file
};

// Whom a request is for and why; the producer fills in what it asks.
// Requests of one operation share its id; a read-back carries its write's.
inline RequestRecord request_for(Purpose purpose, int16_t target = any_address,
                                 uint32_t generation = 0, uint32_t id = 0)
{
    RequestRecord r;
    r.target = target;
    r.purpose = uint8_t(purpose);
    r.generation = generation;
    r.id = id;
    return r;
}
inline Purpose purpose_of(const RequestRecord &r)
{
    return Purpose(r.purpose);
}

// Neighbouring parameters sent in one request: at most four, with no gap.
struct ParGroup {
    int first;
    int count;
    int bytes; // sum of the members' widths
};
std::vector<ParGroup> par_groups(const ParTable &table);
// The parameters a request for n bytes from this address covers, in order.
QList<int> par_indices(const ParTable &table, int address, int n);

// 100, address high, low, n (at most 8). False when the ring was full.
bool par_read_request(RequestRing &ring, int32_t address, uint8_t n,
                      const RequestRecord &base = request_for(Purpose::read));
// 101, address high, low, n (at most 4), then the n low bytes of value from
// the most significant down. False when the ring was full.
bool par_write_request(RequestRing &ring, int32_t address, int32_t value, uint8_t n,
                       const RequestRecord &base = request_for(Purpose::write));

// Raw value of parameter i from the operator's text: scaled, rounded and
// clamped into the parameter's range. None when the text holds no number.
std::optional<int32_t> par_text_raw(const ParTable &table, int i, const QString &text);

using ParTexts = std::array<QString, par_count>;
using ParRaws = std::array<int32_t, par_count>;
// What is known of each parameter: the raw value, or nothing.
using ParKnown = std::array<std::optional<int32_t>, par_count>;

// False when the ring could not take all three reads.
bool par_readall(RequestRing &ring, const ParTable &table,
                 const RequestRecord &base = request_for(Purpose::read));

struct WriteAllResult {
    QList<int> no_number; // boxes whose text holds no number: none of them is written
    QList<int> left_out;  // members of groups not sent at all
    QList<int> ring_full; // members of groups the full ring refused
    ParKnown queued;      // the raw value of each parameter whose write was queued
    QString not_recorded; // why nothing was queued: the journal could not take it
};
// Queues the grouped writes of all nine parameters from the operator's
// texts. A text with no number is replaced by the value the controller last
// confirmed for it, so that the rest of its group is still written and it
// keeps what it holds; with none known, its group is left out.
WriteAllResult par_writeall(RequestRing &ring, const ParTable &table, const ParTexts &texts,
                            const ParKnown &confirmed,
                            const RequestRecord &base = request_for(Purpose::write));
// What par_writeall would queue, without queuing it.
WriteAllResult par_writeall_plan(const ParTable &table, const ParTexts &texts,
                                 const ParKnown &confirmed);
// The same from raw values, which must lie in their parameters' ranges.
// False when the ring could not take all three writes.
bool par_writeall(RequestRing &ring, const ParTable &table, const ParRaws &raws,
                  const RequestRecord &base = request_for(Purpose::write));
