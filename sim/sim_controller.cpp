#include "sim_controller.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace sim {

namespace {

constexpr int CurrentTarget = 1200;   // mA, at address 1
constexpr int FrequencyTarget = 5000; // 0.01 Hz, at address 1
constexpr int TimerDefault = 125;     // 0.1 s, at address 1
constexpr int MaxRegisterQuantity = 125;

// Register 200: bit 0 = measuring. Register 203 counts served register reads.
constexpr quint16 StatusMeasuring = 0x0001;
constexpr quint16 AnalogIn1 = 12;
constexpr quint16 AnalogIn2 = 3;

quint16 be16(const QByteArray &b, int at)
{
    return quint16(quint8(b[at]) << 8 | quint8(b[at + 1]));
}

void appendBe16(QByteArray &b, int v)
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
int addressStep(int address)
{
    return (address - 1) % 32;
}

} // namespace

Controller::Controller(quint32 seed, int address)
    : m_currentTarget(CurrentTarget + 100 * addressStep(address)),
      m_frequencyTarget(FrequencyTarget + 10 * (addressStep(address) % 5)), m_rng(seed)
{
    m_currents.fill(m_currentTarget);
    m_frequency = m_frequencyTarget;
    const QByteArray mem = defaultMemory(address);
    std::copy(mem.begin(), mem.end(), m_mem.begin());
    m_regs[0] = StatusMeasuring;
    m_regs[1] = ProtocolVersion;
    m_regs[2] = SoftwareVersion;
    m_regs[8] = AnalogIn1;
    m_regs[9] = AnalogIn2;
    advance();
}

QByteArray Controller::defaultMemory(int address)
{
    // 257..259 trims (%), 260 imax_timed (mA), 262 timer (0.1 s),
    // 264 imax_instant (mA), 266 CT rating (0.1 A), 268 offset (mA), 270 relay mode
    static const char bytes[MemSize] = {100,  100,  100,  0x13,       char(0x88), 0x00, 0x7D,
                                        0x4E, 0x20, 0x03, char(0xE8), 0x00,       0x00, 0x00};
    QByteArray mem(bytes, MemSize);
    const int timer = TimerDefault + 10 * addressStep(address);
    mem[262 - MemFirst] = char(timer >> 8);
    mem[263 - MemFirst] = char(timer & 0xFF);
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
        return readRegisters(pdu);
    case FnReadParams:
        return readMemory(pdu);
    case FnWriteParams:
        return writeMemory(pdu);
    default:
        return exception(quint8(pdu[0]), ExIllegalFunction);
    }
}

QByteArray Controller::readRegisters(const QByteArray &pdu)
{
    if (pdu.size() != 5)
        return exception(FnReadHolding, ExIllegalValue);
    const int start = be16(pdu, 1);
    const int count = be16(pdu, 3);
    if (count < 1 || count > MaxRegisterQuantity)
        return exception(FnReadHolding, ExIllegalValue);
    if (start < RegFirst || start + count > RegFirst + RegCount)
        return exception(FnReadHolding, ExIllegalAddress);
    advance();
    ++m_regs[3];
    QByteArray r;
    r.append(char(FnReadHolding));
    r.append(char(count * 2));
    for (int i = 0; i < count; ++i)
        appendBe16(r, m_regs[start - RegFirst + i]);
    return r;
}

QByteArray Controller::readMemory(const QByteArray &pdu) const
{
    if (pdu.size() != 4)
        return exception(FnReadParams, ExIllegalValue);
    const int start = be16(pdu, 1);
    const int n = quint8(pdu[3]);
    if (n == 0 || start < MemFirst || start + n - 1 > MemFirst + MemSize - 1)
        return exception(FnReadParams, ExIllegalAddress);
    QByteArray r = pdu;
    for (int i = 0; i < n; ++i)
        r.append(char(m_mem[start - MemFirst + i]));
    return r;
}

QByteArray Controller::writeMemory(const QByteArray &pdu)
{
    if (pdu.size() < 4 || pdu.size() != 4 + quint8(pdu[3]))
        return exception(FnWriteParams, ExIllegalValue);
    const int start = be16(pdu, 1);
    const int n = quint8(pdu[3]);
    if (n == 0 || start < MemFirst || start + n - 1 > MemFirst + MemSize - 1)
        return exception(FnWriteParams, ExIllegalAddress);
    for (int i = 0; i < n; ++i) {
        if (start + i < m_ignoredFirst || start + i > m_ignoredLast)
            m_mem[start - MemFirst + i] = quint8(pdu[4 + i]);
    }
    save();
    return pdu;
}

void Controller::advance()
{
    for (size_t i = 0; i < m_currents.size(); ++i) {
        m_currents[i] = drift(m_currents[i], m_currentTarget, 4, m_rng);
        m_regs[4 + i] = quint16(m_currents[i]);
    }
    m_frequency = drift(m_frequency, m_frequencyTarget, 2, m_rng);
    m_regs[7] = quint16(m_frequency);
}

quint16 Controller::reg(int address) const
{
    if (address < RegFirst || address >= RegFirst + RegCount)
        return 0;
    return m_regs[address - RegFirst];
}

QByteArray Controller::memory() const
{
    return QByteArray(reinterpret_cast<const char *>(m_mem.data()), MemSize);
}

void Controller::setMemory(const QByteArray &bytes)
{
    std::copy_n(bytes.begin(), std::min<qsizetype>(bytes.size(), MemSize), m_mem.begin());
}

bool Controller::ignoreWritesTo(int address)
{
    // Where each parameter starts: three trims, five 16-bit values, the relay mode.
    static const int starts[] = {257, 258, 259, 260, 262, 264, 266, 268, 270, 271};
    const int *at = std::find(std::begin(starts), std::end(starts) - 1, address);
    if (at == std::end(starts) - 1)
        return false;
    m_ignoredFirst = address;
    m_ignoredLast = *(at + 1) - 1;
    return true;
}

bool Controller::attachFile(const QString &path, QString *error)
{
    QFile f(path);
    if (f.exists()) {
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
            return false;
        }
        const QByteArray bytes = f.readAll();
        if (bytes.size() != MemSize) {
            *error = QStringLiteral("%1: expected %2 bytes, found %3")
                         .arg(path, QString::number(MemSize), QString::number(bytes.size()));
            return false;
        }
        setMemory(bytes);
    }
    m_file = path;
    return true;
}

bool Controller::save()
{
    if (m_file.isEmpty())
        return true;
    QSaveFile f(m_file);
    if (!f.open(QIODevice::WriteOnly) || f.write(memory()) != MemSize || !f.commit()) {
        m_saveError = QStringLiteral("%1: %2").arg(m_file, f.errorString());
        return false;
    }
    m_saveError.clear();
    return true;
}

} // namespace sim
