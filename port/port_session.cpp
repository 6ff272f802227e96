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

PortError PortSession::open()
{
    // Opening an open port changes nothing, and says nothing about it.
    if (m_port->is_open())
        return PortError::Busy;
    m_last_open_error = m_port->open();
    return m_last_open_error;
}

QString PortSession::closed_text() const
{
    if (com_port == 0)
        return QStringLiteral("Порт не выбран");
    if (lost())
        return QStringLiteral("Порт COM%1 потерян, ожидание подключения")
            .arg(m_port->port_number());
    QString text = QStringLiteral("Порт COM%1 не открыт").arg(m_port->port_number());
    if (m_last_open_error == PortError::None)
        return text;
    text += QLatin1Char(':') + port_error_reason(m_last_open_error);
    const QString detail = m_port->open_error_text();
    return detail.isEmpty() ? text : text + QStringLiteral(" (%1)").arg(detail);
}

bool PortSession::lost() const
{
    return !m_held && (m_waiting || m_port->lost());
}

void PortSession::hold_port(bool held)
{
    m_held = held;
    // Whatever the dialog leaves behind is its choice, not a loss.
    m_waiting = false;
}

void PortSession::retry_lost_port()
{
    if (m_held || !(m_waiting || m_port->lost()))
        return;
    // Only the configured port is awaited; with none there is nothing to wait for.
    m_waiting = com_port != 0 && !m_port->is_open();
    if (!m_waiting)
        return;
    // The number is looked up again, so a "Ports" entry that now names
    // another device (a re-pointed link) is followed.
    if (m_port->set_port_number(com_port) != PortError::None || open() != PortError::None)
        return;
    m_waiting = false;
    ++m_reconnects;
    emit reconnected();
}

QString port_error_reason(PortError error)
{
    return error == PortError::Busy ? QStringLiteral(" занят другим приложением")
                                    : QStringLiteral(" не доступен");
}
