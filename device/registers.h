#pragma once
// The controller's measurement block: ten 16-bit registers from 200, read
// with function 3 whenever nothing else is queued.

#include "convert.h"
#include "readings.h"
#include "request_ring.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

constexpr int measurement_first_register = 200;

// function 3, start register 200, count 10
std::vector<uint8_t> measurement_poll_pdu();
// What that request asks, for judging its reply: ten registers from 200.
RequestRecord measurement_poll_record(const RequestRecord &base = {});

enum class FieldAxis { current, frequency, voltage };

// A measured value: where it is, what it is called, how it is scaled and
// shown. Everything that shows, logs or publishes measurements (the window,
// the trend, CSV, JSON, the report, the command line) takes it from here, so
// a new value is one more row (and its register inside the polled block).
struct MeasuredField {
    int reg;
    const char *id;      // the name scripts and files use: JSON keys, CSV columns
    const char *caption; // UTF-8, as the window names it: "Фаза A"
    const char *unit;    // UTF-8: "А"
    double factor;       // to engineering units
    int digits;          // decimals shown
    FieldAxis axis;      // the trend's axis
};

// Phase currents A, B, C (A), frequency (Hz), analog inputs 1 and 2.
inline constexpr std::array<MeasuredField, 6> measured_fields = {{
    {204, "ia", "Фаза A", "А", 1.0 / 1000, 3, FieldAxis::current},
    {205, "ib", "Фаза B", "А", 1.0 / 1000, 3, FieldAxis::current},
    {206, "ic", "Фаза C", "А", 1.0 / 1000, 3, FieldAxis::current},
    {207, "frequency", "Частота", "Гц", 1.0 / 100, 2, FieldAxis::frequency},
    {208, "ain1", "AIN 1", "В", 1, 2, FieldAxis::voltage},
    {209, "ain2", "AIN 2", "В", 1, 2, FieldAxis::voltage},
}};
constexpr int measured_count = int(measured_fields.size());

// The row of register reg; none for a register no field shows.
const MeasuredField *field_of(int reg);
// "Фаза A", or with the unit "Частота, Гц".
QString field_caption(int reg, bool with_unit = false);

// A function-3 reply of rx_count bytes read as the block from register 200;
// only registers whose both bytes lie in the reply's data count as carried.
Measurement decode_measurement(const RxBuf &rx_buf, int rx_count);

// The field's register scaled to engineering units.
double field_value(const Measurement &m, const MeasuredField &field);
// The same rounded to the decimals shown, so that 1.2 stays 1.2 in JSON
// and not 1.2000000000000002.
double field_shown(const Measurement &m, const MeasuredField &field);
// As the window shows it: the user's decimal separator and a trailing space.
QString field_text(const Measurement &m, const MeasuredField &field);

// "2.05", "2.12", "2.150": the minor number has at least two digits.
QString version_text(Version v);
