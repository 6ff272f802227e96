#include "convert.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

int32_t rx_word(const RxBuf &rx_buf, int i)
{
    return rx_buf[i] * 256 + rx_buf[i + 1];
}

int32_t reg_data_pos(int n)
{
    return 2 * n + 3;
}

int32_t rx_value(const RxBuf &rx_buf, int start, uint8_t n)
{
    // Accumulated unsigned so that more than four bytes wrap instead of
    // overflowing; the callers only ever ask for one or two.
    uint32_t value = 0;
    for (int k = 0; k < n; ++k)
        value = (value << 8) | static_cast<uint32_t>(rx_buf[start + k] & 0xFF);
    return static_cast<int32_t>(value);
}

namespace {

bool is_blank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool is_digit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// The accepted characters of the operator's number as plain ASCII
// ("-12.5e3"), which from_chars reads the same in every C locale.
struct CleanNumber {
    std::string text;     // empty when no mantissa digit was read
    bool nonzero = false; // some mantissa digit is not 0
    int64_t order = 0;    // decimal order of the leading nonzero digit
};

CleanNumber read_clean(const QString &text)
{
    CleanNumber out;
    std::string mantissa;
    bool seen_point = false;
    bool any_digit = false;

    qsizetype i = 0;
    const qsizetype len = text.size();
    auto next = [&]() -> char16_t {
        while (i < len && is_blank(text[i].unicode()))
            ++i;
        return i < len ? text[i].unicode() : u'\0';
    };

    bool started = false;
    for (char16_t c = next(); c != u'\0'; ++i, c = next()) {
        if (!started && (c == u'+' || c == u'-')) {
            if (c == u'-')
                mantissa += '-';
        } else if (is_digit(c)) {
            any_digit = true;
            mantissa += static_cast<char>(c);
        } else if (c == u'.' && !seen_point) {
            seen_point = true;
            mantissa += '.';
        } else {
            break;
        }
        started = true;
    }
    if (!any_digit)
        return out;

    // An E only counts when digits follow it (after an optional sign).
    int64_t exponent = 0;
    if (char16_t c = next(); c == u'E' || c == u'e') {
        ++i;
        c = next();
        const bool negative = c == u'-';
        if (c == u'+' || c == u'-') {
            ++i;
            c = next();
        }
        for (; is_digit(c); ++i, c = next()) {
            // Saturates far beyond the double range; no text is long enough
            // for its digit count to bring such an exponent back into range.
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (c - u'0');
        }
        if (negative)
            exponent = -exponent;
    }

    const auto lead = mantissa.find_first_of("123456789");
    out.text = mantissa;
    if (lead == std::string::npos)
        return out;
    out.nonzero = true;
    const auto point = std::min(mantissa.find('.'), mantissa.size());
    const auto lead_order = lead < point ? static_cast<int64_t>(point - lead) - 1
                                         : static_cast<int64_t>(point) - static_cast<int64_t>(lead);
    out.order = lead_order + exponent;
    if (exponent != 0)
        out.text += 'e' + std::to_string(exponent);
    return out;
}

// Rounds the decimal digits to a multiple of 10^-decimals, ties to even.
// digits holds d0 d1 ... with d0 of weight 10^exponent; the result is an
// integer digit string whose last digit has weight 10^-decimals.
std::string round_decimal(const std::string &digits, int64_t exponent, int64_t decimals)
{
    const int64_t keep = exponent + decimals + 1;
    if (keep < 0)
        return {};
    std::string kept = digits.substr(0, static_cast<size_t>(keep));
    const char first = digits[static_cast<size_t>(keep)];
    const bool rest_nonzero =
        digits.find_first_not_of('0', static_cast<size_t>(keep) + 1) != std::string::npos;
    const bool odd = !kept.empty() && (kept.back() - '0') % 2 == 1;
    if (first > '5' || (first == '5' && (rest_nonzero || odd))) {
        auto k = kept.size();
        while (k > 0 && kept[k - 1] == '9')
            kept[--k] = '0';
        if (k == 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[k - 1];
    }
    return kept;
}

// The first "," becomes the point and a "%" cuts the rest off, both found
// before either change.
QString number_part(const QString &text)
{
    QString s = text;
    const qsizetype comma = s.indexOf(u',');
    const qsizetype percent = s.indexOf(u'%');
    if (comma >= 0)
        s[comma] = u'.';
    if (percent >= 0)
        s.truncate(percent);
    return s;
}

} // namespace

double text_to_number(const QString &text)
{
    const CleanNumber clean = read_clean(number_part(text));
    if (!clean.nonzero)
        return 0.0;
    double value = 0.0;
    const char *first = clean.text.data();
    const auto result = std::from_chars(first, first + clean.text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow becomes an infinity on purpose: round_to_int saturates it,
        // so text_to_raw clamps such a number to its limit like any other.
        if (clean.order < 0)
            return 0.0;
        const double inf = std::numeric_limits<double>::infinity();
        return clean.text.front() == '-' ? -inf : inf;
    }
    return value;
}

int32_t round_to_int(double x)
{
    if (std::isnan(x))
        return 0;
    const double y = x > 0 ? x + 0.5 : x - 0.5;
    if (std::fabs(y) < 1.0)
        return 0;
    const double t = std::trunc(y);
    if (t >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (t <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(t);
}

bool text_has_number(const QString &text)
{
    return !read_clean(number_part(text)).text.empty();
}

int32_t text_to_raw(const QString &text, int32_t low, int32_t high, double scale)
{
    const int32_t r = round_to_int(text_to_number(text) / scale);
    if (r < low)
        return low;
    if (r > high)
        return high;
    return r;
}

namespace {

// What the number reader understands: "." always, "," through its one-comma rule.
QString decimal_point(const QLocale &locale)
{
    const QString point = locale.decimalPoint();
    return point == QLatin1String(",") ? point : QStringLiteral(".");
}

} // namespace

QString format_scaled(double value, double factor, int digits, const QString &suffix,
                      const QLocale &locale)
{
    const double product = value * factor;
    const QString tail = QLatin1Char(' ') + suffix;
    if (!std::isfinite(product))
        return QString::number(product) + tail;

    // 15 significant digits, "[-]d.ddddddddddddddde[+-]x", then decimal
    // rounding of those digits, so 65535 * 0.001 is 65.535 and not 65.534.
    char buf[32];
    const auto printed =
        std::to_chars(buf, buf + sizeof buf, product, std::chars_format::scientific, 14);
    std::string_view sci(buf, static_cast<size_t>(printed.ptr - buf));
    const bool negative = sci.front() == '-';
    if (negative)
        sci.remove_prefix(1);
    std::string mantissa(1, sci[0]);
    mantissa.append(sci.substr(2, 14));
    auto exp_text = sci.substr(sci.find('e') + 1);
    if (exp_text.front() == '+')
        exp_text.remove_prefix(1);
    int exponent = 0;
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);

    // value = int(kept) * 10^shift
    std::string kept;
    int64_t shift = 0;
    if (static_cast<int64_t>(exponent) + digits + 1 < 15) {
        kept = round_decimal(mantissa, exponent, digits);
        shift = -static_cast<int64_t>(digits);
    } else {
        kept = mantissa;
        shift = static_cast<int64_t>(exponent) - 14;
    }
    while (!kept.empty() && kept.back() == '0') {
        kept.pop_back();
        ++shift;
    }
    if (kept.empty())
        return QLatin1Char('0') + tail;

    std::string whole;
    std::string fraction;
    if (shift >= 0) {
        whole = kept + std::string(static_cast<size_t>(shift), '0');
    } else if (static_cast<int64_t>(kept.size()) > -shift) {
        whole = kept.substr(0, kept.size() - static_cast<size_t>(-shift));
        fraction = kept.substr(whole.size());
    } else {
        whole = "0";
        fraction = std::string(static_cast<size_t>(-shift) - kept.size(), '0') + kept;
    }
    QString out = QString::fromLatin1((negative ? "-" : "") + whole);
    if (!fraction.empty())
        out += decimal_point(locale) + QString::fromLatin1(fraction);
    return out + tail;
}

QString format_scaled(double value, double factor, int digits, const QString &suffix)
{
    return format_scaled(value, factor, digits, suffix, QLocale());
}

QString iso_local_time(qint64 ms_since_epoch, bool with_ms)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms_since_epoch);
    const int offset_min = local.offsetFromUtc() / 60;
    const int shown = offset_min < 0 ? -offset_min : offset_min;
    // QDateTime formats with the C locale; Qt's own ISO form would write "Z"
    // at offset 0, and the offset is spelt out like every other one.
    return local.toString(with_ms ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")
                                  : QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral("%1%2:%3")
               .arg(offset_min < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(shown / 60, 2, 10, QLatin1Char('0'))
               .arg(shown % 60, 2, 10, QLatin1Char('0'));
}
