#pragma once
// The serial port of the program together with the configured port and the
// file that remembers it. The line owns it and lends it to the port dialog,
// which works on it only through the operations below. While the configured
// port is not open (lost, or not there when the program started) the session
// tries to open it about once a second, with no dialog and no message box;
// the request ring is not touched meanwhile.

#include "serial_port.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

// How a port came to be open for use (not for a probe).
enum class PortOpening {
    first,    // the first port opened in this run
    same,     // the port that was in use before, reopened on purpose (the dialog)
    switched, // another port than the one in use before
    returned, // the port in use came back after it was lost
    late,     // the configured port, absent until now, appeared
};

class PortSession : public QObject {
    Q_OBJECT

public:
    PortSession(std::unique_ptr<SerialPort> port, QString config_path, QObject *parent = nullptr);

    // Read-only: the port is worked only through the session.
    const SerialPort &port() const { return *m_port; }
    SerialPort &port() { return *m_port; }
    const QString &config_path() const { return m_config_path; }

    // The configured port number (1 for COM1; 0 when none was chosen).
    uint8_t com_port = 0;
    // OK in the port dialog; not reset when the dialog opens again.
    bool port_confirmed = false;

    // A device named outright (a path, tcp://HOST:PORT or mbtcp://HOST[:PORT]
    // from a command line) instead of com_port; empty to go back to com_port.
    void use_device(const QString &device) { m_device = device; }
    const QString &device() const { return m_device; }
    // "COM5", or the device named outright: the configured port, or while
    // the dialog holds the port the one it chose.
    QString port_name() const;

    // Opens the configured port (or device) for use.
    PortError open_configured();
    // Opens port n for use, closing the one open; the dialog's choice.
    PortError switch_to(int n);
    // Whether port n can be opened now; it is closed again at once.
    bool probe(int n);
    void close();

    // What the status line says while no port is open: no controller is to
    // blame then. "Порт не выбран", "Порт COMn потерян, ожидание подключения"
    // while a lost port is awaited, or "Порт COMn не открыт" with the reason
    // of the last failed open where there is one, and the port's own words
    // for it (a device server that refused), and ", ожидание подключения"
    // once the session waits for it.
    QString closed_text() const;

    // From the moment the open port went away until it is open again.
    bool lost() const;
    // Times a lost port came back, for the whole run.
    int reconnects() const { return m_reconnects; }
    // The port dialog closes and probes ports on purpose: that is no loss,
    // and nothing is reopened behind its back while it holds the port.
    void hold_port(bool held);
    // From now on a configured port that is not open is waited for. Off
    // until the program has started, so that nothing opens behind the
    // start-up's own error box.
    void wait_for_port(bool on) { m_waiting_allowed = on; }
    bool waiting() const;

    // One step of the wait, run by the session's timer about once a second:
    // takes note of a lost port and tries to open the configured one again.
    void retry_lost_port();

signals:
    // A port was opened for use; how it came to be open says whether the
    // controller behind it may be another one.
    void opened(PortOpening how);
    void reconnected();

private:
    PortError open_for_use(PortOpening late_or_returned);
    PortError set_configured();

    std::unique_ptr<SerialPort> m_port;
    QString m_config_path;
    QString m_device;
    PortError m_last_open_error = PortError::None;
    QTimer m_retry_timer;
    // The port in use before, by name: what a newly opened port is compared with.
    QString m_in_use;
    bool m_was_lost = false;
    bool m_held = false;
    bool m_waiting_allowed = false;
    int m_reconnects = 0;
};

// " занят другим приложением" or " не доступен", as the open error box words it.
QString port_error_reason(PortError error);
