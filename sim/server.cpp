#include "server.h"

#include <QTime>

#include <cstdio>

namespace sim {

void log_line(bool verbose, const QString &text)
{
    if (!verbose)
        return;
    const QString stamp = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    std::fprintf(stderr, "%s %s\n", qPrintable(stamp), qPrintable(text));
    std::fflush(stderr);
}

void log_slave(RtuSlave &slave, bool verbose)
{
    slave.set_logger([verbose](RtuSlave::Level level, const QString &text) {
        if (level == RtuSlave::Level::Warning)
            std::fprintf(stderr, "warning: %s\n", qPrintable(text));
        else
            log_line(verbose, text);
    });
}

Server::Server(RtuSlave &slave, Writer writer, bool verbose, const Pacing &pacing, QObject *parent)
    : QObject(parent), m_slave(slave), m_write(std::move(writer)), m_verbose(verbose),
      m_turnaround_ms(pacing.turnaround_ms)
{
    m_clock.start();
    m_silence.setSingleShot(true);
    m_silence.setTimerType(Qt::PreciseTimer);
    connect(&m_silence, &QTimer::timeout, this, [this] { send(m_slave.poll(m_clock.elapsed())); });
    connect(&m_garbage, &QTimer::timeout, this, [this] { transmit(m_slave.garbage(), "garbage"); });
    log_slave(m_slave, m_verbose);
    if (pacing.baud > 0)
        m_pacer =
            std::make_unique<LinePacer>(pacing.baud, [this](const QByteArray &b) { write_out(b); });
}

void Server::received(const QByteArray &bytes)
{
    m_last_rx = LinePacer::Clock::now();
    send(m_slave.feed(bytes, m_clock.elapsed()));
    if (m_slave.pending())
        m_silence.start(RtuSlave::silence_ms + 1);
}

void Server::start_garbage(int interval_ms)
{
    m_garbage.start(interval_ms);
}

void Server::send(const QList<Reply> &replies)
{
    for (const Reply &r : replies) {
        if (m_pacer) {
            pace(r);
            continue;
        }
        if (r.delay_ms == 0 && r.second.isEmpty()) {
            transmit(r.first);
            continue;
        }
        QTimer::singleShot(r.delay_ms, Qt::PreciseTimer, this, [this, r] {
            transmit(r.first);
            if (!r.second.isEmpty())
                QTimer::singleShot(r.pause_ms, Qt::PreciseTimer, this,
                                   [this, r] { transmit(r.second); });
        });
    }
}

// The first byte leaves the turnaround and the delay after the request's last
// byte came in (a frame ended by silence: after that silence), a split
// reply's second part the pause after the first part's last byte.
void Server::pace(const Reply &r)
{
    using std::chrono::milliseconds;
    const auto start =
        std::max(m_last_rx + milliseconds(m_turnaround_ms + r.delay_ms), LinePacer::Clock::now());
    log(QStringLiteral("tx %1").arg(hex(r.first)));
    const auto end = m_pacer->send(r.first, start);
    if (r.second.isEmpty())
        return;
    log(QStringLiteral("tx %1").arg(hex(r.second)));
    m_pacer->send(r.second, end + milliseconds(r.pause_ms));
}

void Server::transmit(const QByteArray &bytes, const char *what)
{
    log(QStringLiteral("%1 %2").arg(QLatin1String(what), hex(bytes)));
    if (m_pacer)
        m_pacer->send(bytes, LinePacer::Clock::now());
    else
        write_out(bytes);
}

void Server::write_out(const QByteArray &bytes) const
{
    if (!m_write(bytes))
        log(QStringLiteral("tx lost: nobody is reading"));
}

} // namespace sim
