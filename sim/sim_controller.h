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
    static constexpr int RegFirst = 200;
    static constexpr int RegCount = 10;
    static constexpr int MemFirst = 257;
    static constexpr int MemSize = 14;

    static constexpr quint16 ProtocolVersion = 0x0205; // 2.05
    static constexpr quint16 SoftwareVersion = 0x010C; // 1.12

    explicit Controller(quint32 seed = 1, int address = 1);

    // Answers one request PDU; the result is a reply PDU, possibly an
    // exception (function | 0x80, code).
    QByteArray handle(const QByteArray &pdu);

    quint16 reg(int address) const;
    QByteArray memory() const;
    void setMemory(const QByteArray &bytes);
    static QByteArray defaultMemory(int address = 1);

    // Loads the memory from path when the file exists, and saves it there
    // after every write from then on. False with a message when the file is
    // there but unusable.
    bool attachFile(const QString &path, QString *error);
    QString lastSaveError() const { return m_saveError; }

    // A controller whose EEPROM cell has worn out: writes to the parameter
    // at this address are answered as usual, echo included, but the memory
    // keeps its old byte(s). False for an address where no parameter starts.
    bool ignoreWritesTo(int address);

    static QByteArray exception(quint8 function, quint8 code);

private:
    QByteArray readRegisters(const QByteArray &pdu);
    QByteArray readMemory(const QByteArray &pdu) const;
    QByteArray writeMemory(const QByteArray &pdu);
    void advance();
    bool save();

    std::array<quint16, RegCount> m_regs{};
    int m_currentTarget = 0;
    int m_frequencyTarget = 0;
    std::array<int, 3> m_currents{};
    int m_frequency = 0;
    std::array<quint8, MemSize> m_mem{};
    std::mt19937 m_rng;
    QString m_file;
    QString m_saveError;
    int m_ignoredFirst = 0; // memory addresses m_ignoredFirst..m_ignoredLast keep their bytes
    int m_ignoredLast = -1;
};

} // namespace sim
