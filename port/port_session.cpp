#include "port_session.h"

#include <utility>

PortSession::PortSession(std::unique_ptr<SerialPort> port, QString config_path)
    : m_port(std::move(port)), m_config_path(std::move(config_path))
{
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
    QString text = QStringLiteral("Порт COM%1 не открыт").arg(m_port->port_number());
    if (m_last_open_error != PortError::None)
        text += QLatin1Char(':') + port_error_reason(m_last_open_error);
    return text;
}

QString port_error_reason(PortError error)
{
    return error == PortError::Busy ? QStringLiteral(" занят другим приложением")
                                    : QStringLiteral(" не доступен");
}
