#include "registers.h"

#include "request_ring.h"

namespace {
constexpr int measurement_count = Measurement::register_count;
} // namespace

const std::array<RegisterField, 6> measured_fields = {{
    {204, "ia", 1.0 / 1000, 3},
    {205, "ib", 1.0 / 1000, 3},
    {206, "ic", 1.0 / 1000, 3},
    {207, "frequency", 1.0 / 100, 2},
    {208, "ain1", 1, 2},
    {209, "ain2", 1, 2},
}};

std::vector<uint8_t> measurement_poll_pdu()
{
    return {3, byte_of(measurement_first_register, 1), byte_of(measurement_first_register, 0),
            byte_of(measurement_count, 1), byte_of(measurement_count, 0)};
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
    m.ia = field_value(m, measured_fields[0]);
    m.ib = field_value(m, measured_fields[1]);
    m.ic = field_value(m, measured_fields[2]);
    m.frequency = field_value(m, measured_fields[3]);
    m.ain1 = field_value(m, measured_fields[4]);
    m.ain2 = field_value(m, measured_fields[5]);
    return m;
}

double field_value(const Measurement &m, const RegisterField &field)
{
    return m.registers[size_t(field.reg - measurement_first_register)] * field.factor;
}

QString version_text(Version v)
{
    return QStringLiteral("%1.%2").arg(v.major).arg(v.minor, 2, 10, QLatin1Char('0'));
}
