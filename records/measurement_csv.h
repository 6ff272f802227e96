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
// The spreadsheet layout is what a spreadsheet in the operator's locale opens
// into columns by itself: the locale's decimal separator, and between fields
// ";" where that is a comma (a Russian or German spreadsheet lists with ";"),
// else ",":
//   <UTF-8 BOM>time;ia, А;ib, А;ic, А;frequency, Гц;ain1, В;ain2, В
//   2026-12-07 10:15:30,123;1,234;0,000;65,535;50,00;12,00;0,00
//   <UTF-8 BOM>time,"ia, А","ib, А","ic, А","frequency, Гц","ain1, В","ain2, В"
//   2026-12-07 10:15:30.123,1.234,0.000,65.535,50.00,12.00,0.00
// The byte order mark makes it read the units as UTF-8, and the time
// without "T" and offset is one it takes for a date and time.

#include "readings.h"

#include <QByteArray>
#include <QLocale>
#include <QString>

struct CsvLayout {
    bool address = false; // an "address" column after the time
    char separator = ',';
    char decimal = '.';
    bool spreadsheet = false; // byte order mark, units in the header, plain time
};

// The spreadsheet layout of a locale (by default the operator's). A decimal
// sign other than "," is taken as ".".
CsvLayout spreadsheet_csv_layout(const QLocale &locale = QLocale());
// The file types of a save dialog: the plain layout, and the spreadsheet
// one named by its separators, "CSV для таблиц (точка с запятой, десятичная
// запятая) (*.csv)" or "… (запятая, десятичная точка) …".
QString plain_csv_filter();
QString spreadsheet_csv_filter(const CsvLayout &layout);

// Both end in "\n".
QByteArray csv_header(const CsvLayout &layout = {});
QByteArray csv_row(const Measurement &m, const CsvLayout &layout = {});
// ISO 8601 local time with milliseconds and the UTC offset.
QByteArray csv_time(qint64 ms_since_epoch);
