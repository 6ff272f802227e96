#pragma once
// The traffic monitor without its window: every exchange of the master made
// into text lines (time, direction, bytes, verdict), the counters, and the
// last lines kept in bounded memory.
//
//   12:34:56.789 → 01 03 00 C8 00 0A 44 33
//   12:34:56.801 ← 01 03 14 02 05 … 5A 1F  ОК, 12 мс
//   12:34:56.939 ← нет ответа
//
// A tick with the port closed sends nothing and judges nothing the line
// carried, so it makes no line and counts as nothing.

#include "exchange.h"

#include <QString>
#include <QStringList>

#include <deque>

struct TrafficCounters {
    qint64 requests = 0;
    qint64 good = 0;
    qint64 crc_mismatch = 0;
    qint64 no_answer = 0;
    qint64 malformed = 0; // good CRC, but not the length or count its request implies
    qint64 unmatched = 0; // good CRC, but an answer to another request
    qint64 exceptions = 0;
    qint64 noise_bytes = 0; // dropped unread from a chattering line
    qint64 reconnects = 0;
};

// "01 03 00 C8 00 0A 44 33"
QString hex_bytes(const QByteArray &bytes);
// Local time of day with milliseconds: "12:34:56.789".
QString clock_text(qint64 ms_since_epoch);
// "ОК", "несовпадение КС", "нет ответа", "исключение, код 2", "ответ не той длины".
QString verdict_text(const Exchange &e);
// The reply judged in this tick (when a request was out or bytes came),
// then the request sent at its end; none for a tick with the port closed.
QStringList exchange_lines(const Exchange &e);

class TrafficLog {
public:
    static constexpr int max_lines = 10000;

    // Counts the exchange; unless paused keeps its lines, which it returns.
    QStringList add_exchange(const Exchange &e);
    // The port was reopened after it was lost.
    QStringList add_reconnect(qint64 ms_since_epoch);
    // Something the line did between exchanges, which a saved log must not
    // leave as a silent gap: "12:34:56.789 — порт потерян".
    QStringList add_event(qint64 ms_since_epoch, const QString &what);

    // Paused, the counters go on but no lines are kept.
    void set_paused(bool paused) { m_paused = paused; }
    bool paused() const { return m_paused; }
    void reset_counters() { m_counters = {}; }
    void clear() { m_lines.clear(); }

    const TrafficCounters &counters() const { return m_counters; }
    const std::deque<QString> &lines() const { return m_lines; }
    QString counters_text() const;

    // Writes the lines held, replacing the file whole or not at all; an
    // empty result, or why the file could not be written.
    QString save(const QString &path) const;

private:
    QStringList keep(QStringList lines);

    TrafficCounters m_counters;
    std::deque<QString> m_lines;
    bool m_paused = false;
};
