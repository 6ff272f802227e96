#pragma once
// One line of text per measurement, for the trend window's log and the
// command-line monitor alike:
//   time,ia,ib,ic,frequency,ain1,ain2
//   2026-12-07T10:15:30.123,1.234,0.000,65.535,50.00,12.00,0.00
// Local time with milliseconds, "." as the decimal separator whatever the
// locale, no thousands separators, as many decimals as the window shows.

#include "readings.h"

#include <QByteArray>

// Both end in "\n".
QByteArray csv_header();
QByteArray csv_row(const Measurement &m);
