#pragma once
// One line of text per measurement, for the trend window's log and the
// command-line monitor alike, its columns those of the measured-field table:
//   time,ia,ib,ic,frequency,ain1,ain2
//   2026-12-07T10:15:30.123+03:00,1.234,0.000,65.535,50.00,12.00,0.00
// Local time with milliseconds and its UTC offset, "." as the decimal
// separator whatever the locale, no thousands separators, as many decimals
// as the window shows. With the address column, the answering slave address
// follows the time.
//
// The spreadsheet layout is what a spreadsheet in a Russian locale opens
// into columns by itself (its list separator is ";", its decimal comma ","):
//   <UTF-8 BOM>time;ia, А;ib, А;ic, А;frequency, Гц;ain1, В;ain2, В
//   2026-12-07 10:15:30,123;1,234;0,000;65,535;50,00;12,00;0,00
// The byte order mark makes it read the units as UTF-8, and the time
// without "T" and offset is one it takes for a date and time.

#include "readings.h"

#include <QByteArray>

struct CsvLayout {
    bool address = false; // an "address" column after the time
    char separator = ',';
    char decimal = '.';
    bool spreadsheet = false; // byte order mark, units in the header, plain time
};

// ";" and "," for a spreadsheet in a locale with a decimal comma.
inline constexpr CsvLayout spreadsheet_csv_layout{false, ';', ',', true};

// Both end in "\n".
QByteArray csv_header(const CsvLayout &layout = {});
QByteArray csv_row(const Measurement &m, const CsvLayout &layout = {});
// ISO 8601 local time with milliseconds and the UTC offset.
QByteArray csv_time(qint64 ms_since_epoch);
