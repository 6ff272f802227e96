#pragma once
// The controller's measurement block: ten 16-bit registers from 200, read
// with function 3 whenever nothing else is queued.

#include "convert.h"
#include "readings.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

constexpr int measurement_first_register = 200;

// function 3, start register 200, count 10
std::vector<uint8_t> measurement_poll_pdu();

// A shown register: its scale to engineering units and the decimals shown.
struct RegisterField {
    int reg;
    const char *id; // the name scripts and files use
    double factor;
    int digits;
};
// Phase currents A, B, C (A), frequency (Hz), analog inputs 1 and 2.
extern const std::array<RegisterField, 6> measured_fields;

// A function-3 reply of rx_count bytes read as the block from register 200;
// only registers whose both bytes lie in the reply's data count as carried.
Measurement decode_measurement(const RxBuf &rx_buf, int rx_count);

// Register reg of the block scaled as the window and the files show it.
double field_value(const Measurement &m, const RegisterField &field);

// "2.05", "2.12", "2.150": the minor number has at least two digits.
QString version_text(Version v);
