#pragma once
// One line of text per measurement, for the trend window's log and the
// command-line monitor alike, its columns those of the measured-field table:
//   time,ia,ib,ic,frequency,ain1,ain2
//   2026-12-07T10:15:30.123+03:00,1.234,0.000,65.535,50.00,12.00,0.00
// Local time with milliseconds and its UTC offset, "." as the decimal
// separator whatever the locale, no thousands separators, as many decimals
// as the window shows. With the address column, the answering slave address
// follows the time.

#include "readings.h"

#include <QByteArray>

struct CsvLayout {
    bool address = false; // an "address" column after the time
};

// Both end in "\n".
QByteArray csv_header(const CsvLayout &layout = {});
QByteArray csv_row(const Measurement &m, const CsvLayout &layout = {});
// ISO 8601 local time with milliseconds and the UTC offset.
QByteArray csv_time(qint64 ms_since_epoch);
