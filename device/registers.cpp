#include "registers.h"

#include "request_ring.h"

#include <cmath>

namespace {
constexpr int measurement_count = Measurement::register_count;
} // namespace

std::vector<uint8_t> measurement_poll_pdu()
{
    return {3, byte_of(measurement_first_register, 1), byte_of(measurement_first_register, 0),
            byte_of(measurement_count, 1), byte_of(measurement_count, 0)};
}

RequestRecord measurement_poll_record(const RequestRecord &base)
{
    RequestRecord r = base;
    r.function = 3;
    r.shape = ReplyShape::registers;
    r.start = measurement_first_register;
    r.count = measurement_count;
    return r;
}

Measurement decode_measurement(const RxBuf &rx_buf, int rx_count)
{
    Measurement m;
    // The byte count at position 2 is not trusted; the frame's own length
    // decides which registers came (the last two bytes are the CRC).
    const int last_data = rx_count - 3;
    while (m.carried < measurement_count && reg_data_pos(m.carried) + 1 <= last_data) {
        m.registers[size_t(m.carried)] = uint16_t(rx_word(rx_buf, reg_data_pos(m.carried)));
        ++m.carried;
    }
    const auto high = [&](int k) { return m.registers[size_t(k)] >> 8; };
    const auto low = [&](int k) { return m.registers[size_t(k)] & 0xFF; };
    m.protocol = {high(1), low(1)};
    m.software = {high(2), low(2)};
    if (rx_count > 0)
        m.address = rx_buf[0];
    return m;
}

const MeasuredField *field_of(int reg)
{
    for (const MeasuredField &f : measured_fields) {
        if (f.reg == reg)
            return &f;
    }
    return nullptr;
}

QString field_caption(int reg, bool with_unit)
{
    const MeasuredField *f = field_of(reg);
    if (f == nullptr)
        return {};
    QString text = QString::fromUtf8(f->caption);
    if (with_unit)
        text += QStringLiteral(", ") + QString::fromUtf8(f->unit);
    return text;
}

double field_value(const Measurement &m, const MeasuredField &field)
{
    return m.registers[size_t(field.reg - measurement_first_register)] * field.factor;
}

double field_shown(const Measurement &m, const MeasuredField &field)
{
    const double scale = std::pow(10.0, field.digits);
    return std::round(field_value(m, field) * scale) / scale;
}

QString field_text(const Measurement &m, const MeasuredField &field)
{
    return format_scaled(m.registers[size_t(field.reg - measurement_first_register)], field.factor,
                         field.digits, QString());
}

QString version_text(Version v)
{
    return QStringLiteral("%1.%2").arg(v.major).arg(v.minor, 2, 10, QLatin1Char('0'));
}
