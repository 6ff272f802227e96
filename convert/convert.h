#pragma once
// Value conversions: assembling values from reply bytes, reading a number from
// what the operator typed, rounding, clamping and showing a scaled value.

#include <QRgb>
#include <QString>

#include <array>
#include <cstdint>

class QLocale;

// One received byte per entry (0..255), address byte at 0. Never cleared, so
// entries beyond the current reply still hold bytes of earlier replies.
using RxBuf = std::array<int32_t, 261>;

constexpr QRgb colour_white = 0xFFFFFF;
constexpr QRgb colour_green = 0x00FF00;

// A parameter box as the conversions see it. Setting the text runs the box's
// change handling (which paints it white), so colour goes after text.
class ParBox {
public:
    virtual ~ParBox() = default;
    virtual QString text() const = 0;
    virtual void set_text(const QString &text) = 0;
    virtual void set_colour(QRgb colour) = 0;
};

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
// Number in the box divided by scale, rounded, clamped into [low, high].
int32_t text_to_raw(const ParBox &box, int32_t low, int32_t high, double scale);

// value × factor rounded to digits decimals (ties to even), plain decimal form
// with the locale's decimal separator, then one space, then suffix.
QString format_scaled(double value, double factor, int digits, const QString &suffix);
QString format_scaled(double value, double factor, int digits, const QString &suffix,
                      const QLocale &locale);
// Text first, then green.
void show_value(ParBox &box, double raw, int digits, double scale, const QString &suffix);
