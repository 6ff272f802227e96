#pragma once
// What the controller said, as plain values: the decoder produces these and
// every consumer (the window, the monitor, the trend, the command-line tool)
// takes them from the line's signals.

#include <QMetaType>

#include <array>
#include <cstdint>

struct Version {
    int major = 0;
    int minor = 0;
};

// A function-3 reply read as the block of ten registers from 200. A short
// reply carries only its first registers; the rest stay 0 and are not valid.
// The values in engineering units come from the measured-field table
// (registers.h), which says how each register is scaled and shown.
struct Measurement {
    static constexpr int register_count = 10;
    std::array<uint16_t, register_count> registers{}; // 200..209 as received
    int carried = 0;    // registers 200..200+carried-1 came in the reply
    qint64 time_ms = 0; // wall clock, ms since the epoch
    int address = -1;   // the slave address that answered

    Version protocol; // 201: high byte major, low byte minor
    Version software; // 202

    bool has(int reg) const { return reg >= 200 && reg - 200 < carried; }
    bool complete() const { return carried == register_count; }
};

// One parameter value that came back in a reply to function 100 or 101.
struct ParConfirmation {
    int index = 0;    // 0..8, the parameter table's index
    int32_t raw = 0;  // as stored in the controller (a read) or as taken (a write's echo)
    bool read = true; // function 100: what the memory holds; false: 101, the echo of a write
    int address = -1; // the slave address that answered
};

Q_DECLARE_METATYPE(Measurement)
Q_DECLARE_METATYPE(ParConfirmation)
