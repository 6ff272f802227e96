#include "sim_controller.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace sim {

namespace {

constexpr int current_target = 1200;   // mA, at address 1
constexpr int frequency_target = 5000; // 0.01 Hz, at address 1
constexpr int timer_default = 125;     // 0.1 s, at address 1
constexpr int max_register_quantity = 125;

// Register 200: bit 0 = measuring. Register 203 counts served register reads.
constexpr quint16 status_measuring = 0x0001;
constexpr quint16 analog_in1 = 12;
constexpr quint16 analog_in2 = 3;

quint16 be16(const QByteArray &b, int at)
{
    return quint16(quint8(b[at]) << 8 | quint8(b[at + 1]));
}

void append_be16(QByteArray &b, int v)
{
    b.append(char(quint8(v >> 8)));
    b.append(char(quint8(v)));
}

// Random walk pulled back toward the target so values drift but stay put.
int drift(int value, int target, int noise, std::mt19937 &rng)
{
    std::uniform_int_distribution<int> step(-noise, noise);
    return value + step(rng) + (target - value) / 8;
}

// Each address above 1 adds 100 mA, 0.1 Hz (over five addresses) and 1 s of
// timer, repeating every 32 addresses so that the currents stay below the
// default imax_timed of 5 A.
int address_step(int address)
{
    return (address - 1) % 32;
}

} // namespace

Controller::Controller(quint32 seed, int address)
    : m_current_target(current_target + 100 * address_step(address)),
      m_frequency_target(frequency_target + 10 * (address_step(address) % 5)), m_rng(seed)
{
    m_currents.fill(m_current_target);
    m_frequency = m_frequency_target;
    const QByteArray mem = default_memory(address);
    std::copy(mem.begin(), mem.end(), m_mem.begin());
    m_regs[0] = status_measuring;
    m_regs[1] = protocol_version;
    m_regs[2] = software_version;
    m_regs[8] = analog_in1;
    m_regs[9] = analog_in2;
    advance();
}

QByteArray Controller::default_memory(int address)
{
    // 257..259 trims (%), 260 imax_timed (mA), 262 timer (0.1 s),
    // 264 imax_instant (mA), 266 CT rating (0.1 A), 268 offset (mA), 270 relay mode
    static const char bytes[mem_size] = {100,  100,  100,  0x13,       char(0x88), 0x00, 0x7D,
                                         0x4E, 0x20, 0x03, char(0xE8), 0x00,       0x00, 0x00};
    QByteArray mem(bytes, mem_size);
    const int timer = timer_default + 10 * address_step(address);
    mem[262 - mem_first] = char(timer >> 8);
    mem[263 - mem_first] = char(timer & 0xFF);
    return mem;
}

QByteArray Controller::exception(quint8 function, quint8 code)
{
    QByteArray r;
    r.append(char(function | 0x80));
    r.append(char(code));
    return r;
}

QByteArray Controller::handle(const QByteArray &pdu)
{
    if (pdu.isEmpty())
        return {};
    switch (quint8(pdu[0])) {
    case FnReadHolding:
        return read_registers(pdu);
    case FnReadParams:
        return read_memory(pdu);
    case FnWriteParams:
        return write_memory(pdu);
    default:
        return exception(quint8(pdu[0]), ExIllegalFunction);
    }
}

QByteArray Controller::read_registers(const QByteArray &pdu)
{
    if (pdu.size() != 5)
        return exception(FnReadHolding, ExIllegalValue);
    const int start = be16(pdu, 1);
    const int count = be16(pdu, 3);
    if (count < 1 || count > max_register_quantity)
        return exception(FnReadHolding, ExIllegalValue);
    if (start < reg_first || start + count > reg_first + reg_count)
        return exception(FnReadHolding, ExIllegalAddress);
    advance();
    ++m_regs[3];
    QByteArray r;
    r.append(char(FnReadHolding));
    r.append(char(count * 2));
    for (int i = 0; i < count; ++i)
        append_be16(r, m_regs[start - reg_first + i]);
    return r;
}

QByteArray Controller::read_memory(const QByteArray &pdu) const
{
    if (pdu.size() != 4)
        return exception(FnReadParams, ExIllegalValue);
    const int start = be16(pdu, 1);
    const int n = quint8(pdu[3]);
    if (n == 0 || start < mem_first || start + n - 1 > mem_first + mem_size - 1)
        return exception(FnReadParams, ExIllegalAddress);
    QByteArray r = pdu;
    for (int i = 0; i < n; ++i)
        r.append(char(m_mem[start - mem_first + i]));
    return r;
}

QByteArray Controller::write_memory(const QByteArray &pdu)
{
    if (pdu.size() < 4 || pdu.size() != 4 + quint8(pdu[3]))
        return exception(FnWriteParams, ExIllegalValue);
    const int start = be16(pdu, 1);
    const int n = quint8(pdu[3]);
    if (n == 0 || start < mem_first || start + n - 1 > mem_first + mem_size - 1)
        return exception(FnWriteParams, ExIllegalAddress);
    for (int i = 0; i < n; ++i) {
        if (start + i < m_ignored_first || start + i > m_ignored_last)
            m_mem[start - mem_first + i] = quint8(pdu[4 + i]);
    }
    save();
    return pdu;
}

void Controller::advance()
{
    for (size_t i = 0; i < m_currents.size(); ++i) {
        m_currents[i] = drift(m_currents[i], m_current_target, 4, m_rng);
        m_regs[4 + i] = quint16(m_currents[i]);
    }
    m_frequency = drift(m_frequency, m_frequency_target, 2, m_rng);
    m_regs[7] = quint16(m_frequency);
}

quint16 Controller::reg(int address) const
{
    if (address < reg_first || address >= reg_first + reg_count)
        return 0;
    return m_regs[address - reg_first];
}

QByteArray Controller::memory() const
{
    return QByteArray(reinterpret_cast<const char *>(m_mem.data()), mem_size);
}

void Controller::set_memory(const QByteArray &bytes)
{
    std::copy_n(bytes.begin(), std::min<qsizetype>(bytes.size(), mem_size), m_mem.begin());
}

bool Controller::ignore_writes_to(int address)
{
    // Where each parameter starts: three trims, five 16-bit values, the relay mode.
    static const int starts[] = {257, 258, 259, 260, 262, 264, 266, 268, 270, 271};
    const int *at = std::find(std::begin(starts), std::end(starts) - 1, address);
    if (at == std::end(starts) - 1)
        return false;
    m_ignored_first = address;
    m_ignored_last = *(at + 1) - 1;
    return true;
}

bool Controller::attach_file(const QString &path, QString *error)
{
    QFile f(path);
    if (f.exists()) {
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
            return false;
        }
        const QByteArray bytes = f.readAll();
        if (bytes.size() != mem_size) {
            *error = QStringLiteral("%1: expected %2 bytes, found %3")
                         .arg(path, QString::number(mem_size), QString::number(bytes.size()));
            return false;
        }
        set_memory(bytes);
    }
    m_file = path;
    return true;
}

bool Controller::save()
{
    if (m_file.isEmpty())
        return true;
    QSaveFile f(m_file);
    if (!f.open(QIODevice::WriteOnly) || f.write(memory()) != mem_size || !f.commit()) {
        m_save_error = QStringLiteral("%1: %2").arg(m_file, f.errorString());
        return false;
    }
    m_save_error.clear();
    return true;
}

} // namespace sim
