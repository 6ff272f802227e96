// The operator's number reader on any text, and the way back: a value shown
// in a parameter's box reads back as the same raw value in every locale.
//
// Input: bytes 0..1 a raw value (low byte first), bytes 2..3 the low limit
// (signed), bytes 4..5 the width of the range, byte 6 picks the scale; the
// rest is the operator's text as UTF-8. Missing header bytes count as 0.

#include "convert.h"

#include <QLocale>
#include <QString>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char *what, const QString &text)
{
    if (ok)
        return;
    std::fprintf(stderr, "fuzz_number: %s: \"%s\"\n", what, qPrintable(text));
    std::abort();
}

struct Scale {
    double scale;
    int digits; // decimals the box shows
};
// The parameter table's scales.
constexpr std::array<Scale, 3> scales = {{{1.0, 0}, {1.0 / 10, 1}, {1.0 / 1000, 3}}};

void check_read(const QString &text, int32_t low, int32_t high, double scale)
{
    const double x = text_to_number(text);
    check(!std::isnan(x), "text_to_number gave NaN", text);
    if (!text_has_number(text))
        check(x == 0.0, "no number in the text, yet a value", text);
    const int32_t raw = text_to_raw(text, low, high, scale);
    check(raw >= low && raw <= high, "text_to_raw outside [low, high]", text);
}

void check_round_trip(int32_t raw)
{
    static const std::array<QLocale, 3> locales = {QLocale::c(), QLocale(QStringLiteral("ru_RU")),
                                                   QLocale(QStringLiteral("ar_EG"))};
    for (const QLocale &locale : locales) {
        for (const Scale &s : scales) {
            const QString shown =
                format_scaled(raw, s.scale, s.digits, QStringLiteral("А"), locale);
            check(text_has_number(shown), "a shown value holds no number", shown);
            check(text_to_raw(shown, 0, 65535, s.scale) == raw, "shown value reads back different",
                  shown + QStringLiteral(" in ") + locale.name());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::array<uint8_t, 7> head{};
    const size_t head_size = std::min(size, head.size());
    std::copy(data, data + head_size, head.begin());
    const int32_t raw = head[0] | head[1] << 8;
    const int32_t low = int16_t(head[2] | head[3] << 8);
    const int32_t high = low + (head[4] | head[5] << 8);
    const double scale = scales[head[6] % scales.size()].scale;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data) + head_size,
                                           qsizetype(size - head_size));

    check_read(text, low, high, scale);
    check_round_trip(raw);
    return 0;
}
