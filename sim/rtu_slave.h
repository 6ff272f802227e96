#pragma once

#include "sim_controller.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>
#include <random>

namespace sim {

quint16 crc16(const QByteArray &bytes);
QByteArray with_crc(QByteArray frame); // appends CRC low byte, then high byte
QString hex(const QByteArray &bytes);

struct Faults {
    double drop = 0;    // share of replies not sent
    double corrupt = 0; // share of replies sent with a wrong CRC
    double split = 0;   // share of replies sent in two parts
    int split_pause_ms = 200;
    int delay_ms = 0;       // every reply
    int exception_code = 0; // non-zero: answer every request with it
};

// One reply on its way out: first is sent delay_ms after the request, second
// (if any) pause_ms after first.
struct Reply {
    QByteArray first;
    QByteArray second;
    int delay_ms = 0;
    int pause_ms = 0;

    QByteArray bytes() const { return first + second; }
};

// Addresses 1..247 as a list: "5", "1,2,5", "1-4", "1,3-5". Sorted, each
// once; empty with a message when the text is not such a list.
QList<int> parse_address_list(const QString &text, QString *error);

// Modbus RTU framing for the line: collects request bytes, finds frame ends,
// answers frames for the addresses it serves, each with its own controller,
// and stays silent for any other address. Time comes in from the caller.
class RtuSlave {
public:
    static constexpr int silence_ms = 20;
    static constexpr int max_frame = 256;

    enum class Level { Trace, Warning };
    using Logger = std::function<void(Level, const QString &)>;

    RtuSlave(Controller &controller, quint8 address, const Faults &faults = {}, quint32 seed = 1);
    // One more controller on the same line. The faults hold for all of them.
    void serve(quint8 address, Controller &controller) { m_line.insert(address, &controller); }

    void set_logger(Logger logger) { m_log = std::move(logger); }

    // Bytes received at now_ms (any monotonic millisecond clock).
    QList<Reply> feed(const QByteArray &bytes, qint64 now_ms);
    // To be called when the line has been quiet; judges or drops what is
    // buffered once silence_ms have passed since the last byte.
    QList<Reply> poll(qint64 now_ms);

    // The reply PDU to one request PDU (function code first) for address,
    // after the exception and drop faults; empty when none goes out: another
    // address, a broadcast, a dropped reply. The pdu is never empty.
    QByteArray answer(quint8 address, const QByteArray &pdu);
    // A reply frame with the corrupt and split faults and the delay applied.
    Reply make_reply(QByteArray frame);

    bool pending() const { return !m_buf.isEmpty(); }
    // A few random bytes for unsolicited line noise.
    QByteArray garbage();

private:
    int expected_length() const;
    void extract_frames(QList<Reply> &out);
    void skip_byte();
    void flush_skipped();
    void judge(const QByteArray &frame, QList<Reply> &out);
    // The controller's answer; a write it could not save is warned about.
    QByteArray handle(Controller &ctl, const QByteArray &pdu);
    void log(const QString &text, Level level = Level::Trace) const;

    QMap<quint8, Controller *> m_line;
    Faults m_faults;
    std::mt19937 m_rng;
    QByteArray m_buf;
    QByteArray m_skipped; // bytes stepped over while looking for a frame
    qint64 m_last_byte_ms = 0;
    Logger m_log;
};

} // namespace sim
