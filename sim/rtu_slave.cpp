#include "rtu_slave.h"

#include <QRegularExpression>

#include <algorithm>
#include <utility>

namespace sim {

quint16 crc16(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray with_crc(QByteArray frame)
{
    const quint16 crc = crc16(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

namespace {

bool crc_ok(const QByteArray &frame)
{
    const qsizetype n = frame.size();
    if (n < 4)
        return false;
    const quint16 got = quint16(quint8(frame[n - 1]) << 8 | quint8(frame[n - 2]));
    return crc16(frame.left(n - 2)) == got;
}

} // namespace

QList<int> parse_address_list(const QString &text, QString *error)
{
    QList<int> out;
    for (const QString &item : text.split(QLatin1Char(','))) {
        // A range as 1-4, or as 1:4 as mbpoll writes it.
        static const QRegularExpression range_sign(QStringLiteral("[-:]"));
        const QStringList ends = item.split(range_sign);
        bool ok_first = false;
        bool ok_last = true;
        const int first = ends.first().trimmed().toInt(&ok_first);
        const int last = ends.size() == 2 ? ends.last().trimmed().toInt(&ok_last) : first;
        if (ends.size() > 2 || !ok_first || !ok_last || first < 1 || last > 247 || first > last) {
            *error = QStringLiteral("«%1» — не адрес 1..247 и не диапазон вида 1-4 или 1:4")
                         .arg(item.trimmed());
            return {};
        }
        for (int a = first; a <= last; ++a)
            out.append(a);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

RtuSlave::RtuSlave(Controller &controller, quint8 address, const Faults &faults, quint32 seed)
    : m_faults(faults), m_rng(seed ^ 0x5EED5EEDu)
{
    serve(address, controller);
}

void RtuSlave::log(const QString &text, Level level) const
{
    if (m_log)
        m_log(level, text);
}

QList<Reply> RtuSlave::feed(const QByteArray &bytes, qint64 now_ms)
{
    QList<Reply> out = poll(now_ms);
    if (bytes.isEmpty())
        return out;
    m_buf += bytes;
    m_last_byte_ms = now_ms;
    extract_frames(out);
    return out;
}

// Silence ends whatever is buffered. A frame of a function we cannot size
// is judged as it stands; anything else left over, or a frame failing its
// CRC, may be noise in front of a real frame, so step over one byte and
// look again until the buffer is used up.
QList<Reply> RtuSlave::poll(qint64 now_ms)
{
    QList<Reply> out;
    if (m_buf.isEmpty() || now_ms - m_last_byte_ms < silence_ms)
        return out;
    while (!m_buf.isEmpty()) {
        if (expected_length() == 0 && crc_ok(m_buf)) {
            judge(m_buf, out);
            m_buf.clear();
        } else {
            skip_byte();
            extract_frames(out);
        }
    }
    flush_skipped();
    return out;
}

// Frame length told by the function code: > 0 known, -1 not known yet,
// 0 not derivable (only silence ends the frame).
int RtuSlave::expected_length() const
{
    if (m_buf.size() < 2)
        return -1;
    switch (quint8(m_buf[1])) {
    case FnReadHolding:
        return 8; // addr fc start(2) quantity(2) crc(2)
    case FnReadParams:
        return 7;       // addr fc start(2) n crc(2)
    case FnWriteParams: // addr fc start(2) n data(n) crc(2)
        return m_buf.size() < 5 ? -1 : 7 + quint8(m_buf[4]);
    default:
        return 0;
    }
}

void RtuSlave::extract_frames(QList<Reply> &out)
{
    for (;;) {
        const int len = expected_length();
        if (len > max_frame) {
            skip_byte();
            continue;
        }
        if (len <= 0 || m_buf.size() < len)
            break;
        const QByteArray frame = m_buf.left(len);
        // A bad CRC may mean noise in front of a real frame.
        if (crc_ok(frame)) {
            judge(frame, out);
            m_buf.remove(0, len);
        } else {
            skip_byte();
        }
    }
    while (m_buf.size() > max_frame)
        skip_byte();
}

void RtuSlave::skip_byte()
{
    if (m_skipped.size() >= max_frame)
        flush_skipped();
    m_skipped.append(m_buf[0]);
    m_buf.remove(0, 1);
}

void RtuSlave::flush_skipped()
{
    if (!m_skipped.isEmpty())
        log(QStringLiteral("ignored %1").arg(hex(m_skipped)));
    m_skipped.clear();
}

void RtuSlave::judge(const QByteArray &frame, QList<Reply> &out)
{
    flush_skipped();
    log(QStringLiteral("rx %1").arg(hex(frame)));
    const quint8 address = quint8(frame[0]);
    const QByteArray reply = answer(address, frame.mid(1, frame.size() - 3));
    if (!reply.isEmpty())
        out.append(make_reply(with_crc(QByteArray(1, char(address)) + reply)));
}

QByteArray RtuSlave::answer(quint8 address, const QByteArray &pdu)
{
    if (address == 0) {
        // Every controller on the line takes a broadcast write.
        if (quint8(pdu[0]) == FnWriteParams && m_faults.exception_code == 0) {
            for (Controller *ctl : std::as_const(m_line))
                handle(*ctl, pdu);
        }
        log(QStringLiteral("broadcast, no reply"));
        return {};
    }
    Controller *ctl = m_line.value(address);
    if (ctl == nullptr) {
        log(QStringLiteral("for slave %1, no reply").arg(address));
        return {};
    }
    const QByteArray reply =
        m_faults.exception_code
            ? Controller::exception(quint8(pdu[0]), quint8(m_faults.exception_code))
            : handle(*ctl, pdu);
    if (m_faults.drop > 0 && std::bernoulli_distribution(m_faults.drop)(m_rng)) {
        log(QStringLiteral("drop"));
        return {};
    }
    return reply;
}

QByteArray RtuSlave::handle(Controller &ctl, const QByteArray &pdu)
{
    const QByteArray reply = ctl.handle(pdu);
    if (quint8(pdu[0]) == FnWriteParams && !ctl.last_save_error().isEmpty())
        log(QStringLiteral("memory not saved: %1").arg(ctl.last_save_error()), Level::Warning);
    return reply;
}

Reply RtuSlave::make_reply(QByteArray frame)
{
    Reply r;
    r.delay_ms = m_faults.delay_ms;
    if (m_faults.corrupt > 0 && std::bernoulli_distribution(m_faults.corrupt)(m_rng)) {
        frame[frame.size() - 1] = char(~quint8(frame[frame.size() - 1]));
        log(QStringLiteral("corrupt"));
    }
    if (m_faults.split > 0 && std::bernoulli_distribution(m_faults.split)(m_rng)) {
        const int cut = std::uniform_int_distribution<int>(1, int(frame.size()) - 1)(m_rng);
        r.first = frame.left(cut);
        r.second = frame.mid(cut);
        r.pause_ms = m_faults.split_pause_ms;
        log(QStringLiteral("split %1+%2").arg(r.first.size()).arg(r.second.size()));
    } else {
        r.first = frame;
    }
    return r;
}

QByteArray RtuSlave::garbage()
{
    std::uniform_int_distribution<int> count(1, 4);
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray g;
    for (int n = count(m_rng); n > 0; --n)
        g.append(char(byte(m_rng)));
    return g;
}

} // namespace sim
