#include "traffic_log.h"

#include "safe_write.h"

#include <QDateTime>

namespace {

const QString arrow_out = QStringLiteral("→");
const QString arrow_in = QStringLiteral("←");

bool is_line_exchange(const Exchange &e)
{
    return e.port_open || !e.sent.isEmpty();
}

// The reply of this tick is judged when a request was out, or when bytes
// came without one (the link judges those too).
bool has_reply_line(const Exchange &e)
{
    return !e.request.isEmpty() || !e.reply.isEmpty();
}

QString reply_line(const Exchange &e)
{
    // No byte came: the reply's time is the tick that gave up on it.
    const qint64 at = e.reply_ms > 0  ? e.reply_ms
                      : e.sent_ms > 0 ? e.sent_ms
                                      : QDateTime::currentMSecsSinceEpoch();
    QString line = clock_text(at) + QLatin1Char(' ') + arrow_in + QLatin1Char(' ');
    if (!e.reply.isEmpty())
        line += hex_bytes(e.reply) + QStringLiteral("  ");
    line += verdict_text(e);
    const qint64 response = e.response_ms();
    if (e.verdict != Verdict::no_answer && e.verdict != Verdict::unmatched && response >= 0)
        line += QStringLiteral(", %1 мс").arg(response);
    if (e.noise > 0)
        line += QStringLiteral(", помехи: отброшено %1 байт").arg(e.noise);
    return line;
}

void count(TrafficCounters &c, const Exchange &e)
{
    if (has_reply_line(e)) {
        switch (e.verdict) {
        case Verdict::good:
            ++(e.exception_code >= 0 ? c.exceptions : c.good);
            break;
        case Verdict::crc_mismatch:
            ++c.crc_mismatch;
            break;
        case Verdict::no_answer:
            ++c.no_answer;
            break;
        case Verdict::malformed:
            ++c.malformed;
            break;
        case Verdict::unmatched: // no answer to the request out; it is sent again
            ++c.unmatched;
            break;
        }
    }
    c.noise_bytes += e.noise;
    if (!e.sent.isEmpty())
        ++c.requests;
}

} // namespace

QString hex_bytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString clock_text(qint64 ms_since_epoch)
{
    return QDateTime::fromMSecsSinceEpoch(ms_since_epoch).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString verdict_text(const Exchange &e)
{
    switch (e.verdict) {
    case Verdict::good:
        if (e.exception_code < 0)
            return QStringLiteral("ОК");
        if (const QString meaning = exception_meaning(e.exception_code); !meaning.isEmpty())
            return QStringLiteral("исключение, код %1 (%2)").arg(e.exception_code).arg(meaning);
        return QStringLiteral("исключение, код %1").arg(e.exception_code);
    case Verdict::crc_mismatch:
        return QStringLiteral("несовпадение КС");
    case Verdict::unmatched:
        return QStringLiteral("ответ не на этот запрос");
    case Verdict::malformed:
        return QStringLiteral("ответ не той длины");
    case Verdict::no_answer:
        break;
    }
    return QStringLiteral("нет ответа");
}

QStringList exchange_lines(const Exchange &e)
{
    QStringList lines;
    if (!is_line_exchange(e))
        return lines;
    if (has_reply_line(e))
        lines.append(reply_line(e));
    if (!e.sent.isEmpty())
        lines.append(clock_text(e.sent_ms) + QLatin1Char(' ') + arrow_out + QLatin1Char(' ') +
                     hex_bytes(e.sent));
    return lines;
}

QStringList TrafficLog::add_exchange(const Exchange &e)
{
    if (!is_line_exchange(e))
        return {};
    count(m_counters, e);
    return keep(exchange_lines(e));
}

QStringList TrafficLog::add_reconnect(qint64 ms_since_epoch)
{
    ++m_counters.reconnects;
    return add_event(ms_since_epoch, QStringLiteral("порт открыт заново"));
}

QStringList TrafficLog::add_event(qint64 ms_since_epoch, const QString &what)
{
    return keep({clock_text(ms_since_epoch) + QStringLiteral(" — ") + what});
}

QStringList TrafficLog::keep(QStringList lines)
{
    if (m_paused)
        return {};
    for (const QString &line : std::as_const(lines))
        m_lines.push_back(line);
    while (m_lines.size() > size_t(max_lines))
        m_lines.pop_front();
    return lines;
}

QString TrafficLog::counters_text() const
{
    const TrafficCounters &c = m_counters;
    QString text = QStringLiteral("Запросов: %1   ОК: %2   Несовпадение КС: %3   Нет ответа: %4   "
                                  "Исключений: %5   Переподключений: %6")
                       .arg(c.requests)
                       .arg(c.good)
                       .arg(c.crc_mismatch)
                       .arg(c.no_answer)
                       .arg(c.exceptions)
                       .arg(c.reconnects);
    // Said only once they happen: a healthy line has none of them.
    if (c.malformed > 0)
        text += QStringLiteral("   Не той длины: %1").arg(c.malformed);
    if (c.unmatched > 0)
        text += QStringLiteral("   Не на запрос: %1").arg(c.unmatched);
    if (c.noise_bytes > 0)
        text += QStringLiteral("   Помехи, байт: %1").arg(c.noise_bytes);
    return text;
}

QString TrafficLog::save(const QString &path) const
{
    QByteArray bytes;
    for (const QString &line : m_lines)
        bytes += line.toUtf8() + '\n';
    QString why;
    return replace_file(path, bytes, &why) ? QString() : why;
}
