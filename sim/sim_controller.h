#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <random>

namespace sim {

enum Function : quint8 {
    FnReadHolding = 3,
    FnReadParams = 100,
    FnWriteParams = 101,
};

enum ExceptionCode : quint8 {
    ExIllegalFunction = 1,
    ExIllegalAddress = 2,
    ExIllegalValue = 3,
};

// The RZT-604D as seen from the line: ten measurement registers and the
// byte-addressed parameter memory. Works on PDUs (function code + body,
// no slave address, no CRC). Controllers at different addresses of one
// line read different currents and frequency and keep a different timer,
// so that a master can tell which one answered.
class Controller {
public:
    static constexpr int reg_first = 200;
    static constexpr int reg_count = 10;
    static constexpr int mem_first = 257;
    static constexpr int mem_size = 14;

    static constexpr quint16 protocol_version = 0x0205; // 2.05
    static constexpr quint16 software_version = 0x010C; // 1.12

    explicit Controller(quint32 seed = 1, int address = 1);

    // Answers one request PDU; the result is a reply PDU, possibly an
    // exception (function | 0x80, code).
    QByteArray handle(const QByteArray &pdu);

    quint16 reg(int address) const;
    QByteArray memory() const;
    void set_memory(const QByteArray &bytes);
    static QByteArray default_memory(int address = 1);

    // Loads the memory from path when the file exists, and saves it there
    // after every write from then on. False with a message when the file is
    // there but unusable.
    bool attach_file(const QString &path, QString *error);
    QString last_save_error() const { return m_save_error; }

    // A controller whose EEPROM cell has worn out: writes to the parameter
    // at this address are answered as usual, echo included, but the memory
    // keeps its old byte(s). False for an address where no parameter starts.
    bool ignore_writes_to(int address);

    static QByteArray exception(quint8 function, quint8 code);

private:
    QByteArray read_registers(const QByteArray &pdu);
    QByteArray read_memory(const QByteArray &pdu) const;
    QByteArray write_memory(const QByteArray &pdu);
    void advance();
    bool save();

    std::array<quint16, reg_count> m_regs{};
    int m_current_target = 0;
    int m_frequency_target = 0;
    std::array<int, 3> m_currents{};
    int m_frequency = 0;
    std::array<quint8, mem_size> m_mem{};
    std::mt19937 m_rng;
    QString m_file;
    QString m_save_error;
    int m_ignored_first = 0; // memory addresses m_ignored_first..m_ignored_last keep their bytes
    int m_ignored_last = -1;
};

} // namespace sim
