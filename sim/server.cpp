#include "server.h"

#include <QTime>

#include <cstdio>

namespace sim {

Server::Server(RtuSlave &slave, Writer writer, bool verbose, QObject *parent)
    : QObject(parent), m_slave(slave), m_write(std::move(writer)), m_verbose(verbose)
{
    m_clock.start();
    m_silence.setSingleShot(true);
    m_silence.setTimerType(Qt::PreciseTimer);
    connect(&m_silence, &QTimer::timeout, this, [this] { send(m_slave.poll(m_clock.elapsed())); });
    connect(&m_garbage, &QTimer::timeout, this, [this] { transmit(m_slave.garbage(), "garbage"); });
    m_slave.setLogger([this](RtuSlave::Level level, const QString &text) {
        if (level == RtuSlave::Level::Warning)
            std::fprintf(stderr, "warning: %s\n", qPrintable(text));
        else
            log(text);
    });
}

void Server::log(const QString &text) const
{
    if (!m_verbose)
        return;
    const QString stamp = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    std::fprintf(stderr, "%s %s\n", qPrintable(stamp), qPrintable(text));
    std::fflush(stderr);
}

void Server::received(const QByteArray &bytes)
{
    send(m_slave.feed(bytes, m_clock.elapsed()));
    if (m_slave.pending())
        m_silence.start(RtuSlave::SilenceMs + 1);
}

void Server::startGarbage(int intervalMs)
{
    m_garbage.start(intervalMs);
}

void Server::send(const QList<Reply> &replies)
{
    for (const Reply &r : replies) {
        if (r.delayMs == 0 && r.second.isEmpty()) {
            transmit(r.first);
            continue;
        }
        QTimer::singleShot(r.delayMs, Qt::PreciseTimer, this, [this, r] {
            transmit(r.first);
            if (!r.second.isEmpty())
                QTimer::singleShot(r.pauseMs, Qt::PreciseTimer, this,
                                   [this, r] { transmit(r.second); });
        });
    }
}

void Server::transmit(const QByteArray &bytes, const char *what)
{
    log(QStringLiteral("%1 %2").arg(QLatin1String(what), hex(bytes)));
    if (!m_write(bytes))
        log(QStringLiteral("tx lost: nobody is reading"));
}

} // namespace sim
