#include "port_session.h"

#include <utility>

namespace {

// Often enough that polling is back within two seconds of the device, rare
// enough that an absent device costs nothing.
constexpr int retry_interval_ms = 1000;

} // namespace

PortSession::PortSession(std::unique_ptr<SerialPort> port, QString config_path, QObject *parent)
    : QObject(parent), m_port(std::move(port)), m_config_path(std::move(config_path))
{
    m_retry_timer.setInterval(retry_interval_ms);
    connect(&m_retry_timer, &QTimer::timeout, this, &PortSession::retry_lost_port);
    m_retry_timer.start();
}

QString PortSession::port_name() const
{
    if (!m_device.isEmpty())
        return m_device;
    // While the dialog holds the port it is the one it chose that is tried;
    // otherwise the configured one, whatever number the layer last took.
    return QStringLiteral("COM%1").arg(m_held ? m_port->port_number() : int(com_port));
}

PortError PortSession::set_configured()
{
    // The number is looked up again, so a "Ports" entry that now names
    // another device (a re-pointed symbolic link) is followed.
    return m_device.isEmpty() ? m_port->set_port_number(com_port) : m_port->set_device(m_device);
}

PortError PortSession::open_for_use(PortOpening late_or_returned)
{
    // Opening an open port changes nothing, and says nothing about it.
    if (m_port->is_open())
        return PortError::Busy;
    m_last_open_error = m_port->open();
    if (m_last_open_error != PortError::None)
        return m_last_open_error;
    const QString name =
        m_device.isEmpty() ? QStringLiteral("COM%1").arg(m_port->port_number()) : m_device;
    PortOpening how = m_in_use.isEmpty() ? PortOpening::first
                      : m_in_use != name ? PortOpening::switched
                                         : PortOpening::same;
    if (how == PortOpening::same && late_or_returned != PortOpening::same)
        how = late_or_returned;
    if (how == PortOpening::first && late_or_returned == PortOpening::late)
        how = PortOpening::late;
    m_in_use = name;
    m_was_lost = false;
    emit opened(how);
    return PortError::None;
}

PortError PortSession::open_configured()
{
    const PortError error = set_configured();
    if (error != PortError::None && !m_port->is_open()) {
        m_last_open_error = error;
        return error;
    }
    return open_for_use(PortOpening::same);
}

PortError PortSession::switch_to(int n)
{
    if (m_port->is_open())
        m_port->close();
    // A refused number still goes on to the open, which then tries the
    // number the port last accepted, as every failing step goes on.
    (void)m_port->set_port_number(n);
    return open_for_use(PortOpening::same);
}

bool PortSession::probe(int n)
{
    // A refused number still goes on to the open, as every failing step
    // does; whatever it opened is closed again.
    const bool number_taken = m_port->set_port_number(n) == PortError::None;
    const bool opened = m_port->open() == PortError::None;
    if (opened)
        m_port->close();
    return number_taken && opened;
}

void PortSession::close()
{
    if (m_port->is_open())
        m_port->close();
}

QString PortSession::closed_text() const
{
    if (m_device.isEmpty() && com_port == 0)
        return QStringLiteral("Порт не выбран");
    if (lost())
        return QStringLiteral("Порт %1 потерян, ожидание подключения").arg(port_name());
    QString text = QStringLiteral("Порт %1 не открыт").arg(port_name());
    if (m_last_open_error != PortError::None) {
        text += QLatin1Char(':') + port_error_reason(m_last_open_error);
        const QString detail = m_port->open_error_text();
        if (!detail.isEmpty())
            text += QStringLiteral(" (%1)").arg(detail);
    }
    if (waiting())
        text += QStringLiteral(", ожидание подключения");
    return text;
}

bool PortSession::lost() const
{
    return !m_held && (m_was_lost || m_port->lost());
}

bool PortSession::waiting() const
{
    return m_waiting_allowed && !m_held && (com_port != 0 || !m_device.isEmpty()) &&
           !m_port->is_open();
}

void PortSession::hold_port(bool held)
{
    m_held = held;
    // Whatever the dialog leaves behind is its choice, not a loss.
    m_was_lost = false;
}

void PortSession::retry_lost_port()
{
    if (m_held)
        return;
    if (m_port->lost() || (m_was_lost && !m_port->is_open()))
        m_was_lost = true;
    if (!waiting())
        return;
    const bool returning = m_was_lost;
    if (set_configured() != PortError::None && !m_port->is_open())
        return;
    if (open_for_use(returning ? PortOpening::returned : PortOpening::late) != PortError::None)
        return;
    if (returning) {
        ++m_reconnects;
        emit reconnected();
    }
}

QString port_error_reason(PortError error)
{
    return error == PortError::Busy ? QStringLiteral(" занят другим приложением")
                                    : QStringLiteral(" не доступен");
}
