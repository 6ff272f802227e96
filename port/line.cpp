#include "line.h"

#include <utility>

Line::Line(std::unique_ptr<SerialPort> port, QString config_path, QObject *parent)
    : QObject(parent), m_session(std::move(port), std::move(config_path)),
      m_master(m_session.port())
{
    // A member, but a child too, so that the window finds it by name.
    m_timer.setParent(this);
    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setInterval(tick_ms);
    // Coarse timers may fire up to 5 % early or late; the controller is given
    // a full tick for its answer.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Line::exchange_step);
    connect(&m_master, &Master::exchanged, this, &Line::exchanged);
    connect(&m_master, &Master::measured, this, &Line::measured);
    connect(&m_master, &Master::parameter_confirmed, this, &Line::parameter_confirmed);
    connect(&m_session, &PortSession::opened, this, &Line::port_opened);
    connect(&m_session, &PortSession::reconnected, this, &Line::port_returned);
}

void Line::start()
{
    m_session.wait_for_port(true);
    m_timer.start();
}

void Line::stop()
{
    m_timer.stop();
}

void Line::exchange_step()
{
    m_master.exchange_step();
    note_loss();
}

void Line::note_loss()
{
    if (!m_session.lost()) {
        m_loss_noted = false;
        return;
    }
    if (m_loss_noted)
        return;
    m_loss_noted = true;
    emit port_lost();
}

void Line::set_address(int address)
{
    const int before = m_master.address();
    m_master.set_address(address);
    if (before >= 0 && address != before)
        point_elsewhere(LineChange::address_changed);
}

void Line::point_elsewhere(LineChange why)
{
    const QList<int> cancelled = m_master.cancel_writes();
    if (!cancelled.isEmpty())
        emit writes_cancelled(cancelled);
    emit changed(why);
}

void Line::port_opened(PortOpening how)
{
    m_loss_noted = false;
    switch (how) {
    case PortOpening::first:
    case PortOpening::same:
        return;
    case PortOpening::switched:
        point_elsewhere(LineChange::port_switched);
        return;
    case PortOpening::returned:
        // The writes were typed for the controller on this port; they go out
        // now, and the read that follows shows what it holds.
        emit changed(LineChange::port_returned);
        return;
    case PortOpening::late:
        emit changed(LineChange::port_appeared);
        return;
    }
}

QList<ScanHit> Line::scan(const ScanOptions &options, const ScanProgress &progress)
{
    if (m_scanning || !m_session.port().is_open())
        return {};
    const bool ticking = m_timer.isActive();
    m_timer.stop();
    m_scanning = true;
    emit scan_started();
    const QList<ScanHit> hits = scan_addresses(m_session.port(), options, progress);
    m_scanning = false;
    emit scan_finished();
    if (ticking)
        m_timer.start();
    return hits;
}
