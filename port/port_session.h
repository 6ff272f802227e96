#pragma once
// The serial port of the program together with the configured port number
// and the file that remembers it. The main window owns it and lends it to
// the port dialog. When the open port is lost (adapter pulled, device gone)
// the session tries to reopen the configured port about once a second, with
// no dialog and no message box; the request ring is not touched meanwhile.

#include "serial_port.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

class PortSession : public QObject {
    Q_OBJECT

public:
    PortSession(std::unique_ptr<SerialPort> port, QString config_path, QObject *parent = nullptr);

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
    // blame then. "Порт не выбран", "Порт COMn потерян, ожидание подключения"
    // while a lost port is awaited, or "Порт COMn не открыт" with the reason
    // of the last failed open where there is one, and the port's own words
    // for it (a device server that refused).
    QString closed_text() const;

    // From the moment the open port went away until it is open again.
    bool lost() const;
    // Times a lost port came back, for the whole run.
    int reconnects() const { return m_reconnects; }
    // The port dialog closes and probes ports on purpose: that is no loss,
    // and nothing is reopened behind its back while it holds the port.
    void hold_port(bool held);

    // One step of the wait, run by the session's timer about once a second:
    // takes note of a lost port and tries to open the configured one again.
    void retry_lost_port();

signals:
    void reconnected();

private:
    std::unique_ptr<SerialPort> m_port;
    QString m_config_path;
    PortError m_last_open_error = PortError::None;
    QTimer m_retry_timer;
    bool m_waiting = false;
    bool m_held = false;
    int m_reconnects = 0;
};

// " занят другим приложением" or " не доступен", as the open error box words it.
QString port_error_reason(PortError error);
