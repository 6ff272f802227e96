#pragma once
// Value conversions: assembling values from reply bytes, reading a number from
// what the operator typed, rounding, clamping and showing a scaled value.

#include <QString>

#include <array>
#include <cstdint>

class QLocale;

// One received byte per entry (0..255), address byte at 0. Never cleared, so
// entries beyond the current reply still hold bytes of earlier replies.
using RxBuf = std::array<int32_t, 261>;

// 16-bit big-endian word at positions i, i + 1.
int32_t rx_word(const RxBuf &rx_buf, int i);
// Position of the high byte of register n (from 0) in a function-3 reply.
int32_t reg_data_pos(int n);
// Unsigned big-endian value of n bytes from start.
int32_t rx_value(const RxBuf &rx_buf, int start, uint8_t n);

// Leading number of operator text: first "," becomes the point, "%" cuts the
// rest, blanks anywhere are skipped; sign, digits, one point, optional E
// exponent. No digit read gives 0; a number beyond the double range gives an
// infinity of its sign, which round_to_int saturates.
double text_to_number(const QString &text);
// Halves away from zero; values beyond the 32-bit range saturate.
int32_t round_to_int(double x);
// Whether the text holds a number at its start, as text_to_number reads it.
// Text without one ("", "-", "x20", ".", "+") must never become a value.
bool text_has_number(const QString &text);
// Number in the text divided by scale, rounded, clamped into [low, high].
int32_t text_to_raw(const QString &text, int32_t low, int32_t high, double scale);

// value × factor rounded to digits decimals (ties to even), plain decimal form
// with the locale's decimal separator, then one space, then suffix. A locale
// whose separator is neither "." nor "," gets "." (the reader knows no other).
QString format_scaled(double value, double factor, int digits, const QString &suffix);
QString format_scaled(double value, double factor, int digits, const QString &suffix,
                      const QLocale &locale);

// Local time in ISO 8601 with its UTC offset, as files and messages carry
// it: "2026-12-07T10:13:10+03:00", with milliseconds "…10.842+03:00".
QString iso_local_time(qint64 ms_since_epoch, bool with_ms);
