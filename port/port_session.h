#pragma once
// The serial port of the program together with the configured port number
// and the file that remembers it. The main window owns it and lends it to
// the port dialog.

#include "serial_port.h"

#include <QString>

#include <cstdint>
#include <memory>

class PortSession {
public:
    PortSession(std::unique_ptr<SerialPort> port, QString config_path);

    SerialPort &port() { return *m_port; }
    const SerialPort &port() const { return *m_port; }
    const QString &config_path() const { return m_config_path; }

    // The configured port number (1 for COM1; 0 when none was chosen).
    uint8_t com_port = 0;
    // OK in the port dialog; not reset when the dialog opens again.
    bool port_confirmed = false;

    // Open through the session, so that the reason of a failure is kept.
    PortError open();
    PortError last_open_error() const { return m_last_open_error; }

    // What the status line says while no port is open: no controller is to
    // blame then. "Порт не выбран", or "Порт COMn не открыт" with the reason
    // of the last failed open where there is one.
    QString closed_text() const;

private:
    std::unique_ptr<SerialPort> m_port;
    QString m_config_path;
    PortError m_last_open_error = PortError::None;
};

// " занят другим приложением" or " не доступен", as the open error box words it.
QString port_error_reason(PortError error);
