#pragma once
// The controller on the line for one command: the serial port of the
// command line, the master over it and its 150 ms tick, run until the
// command has what it asked for or the timeout passes without progress.

#include "cli_args.h"
#include "master.h"
#include "registers.h"
#include "serial_port.h"

#include <QEventLoop>

#include <functional>
#include <memory>

class CliLink {
public:
    CliLink();

    // exit_ok, or exit_port with the reason on standard error.
    int open(const CliArgs &args);

    Master &master() { return m_master; }
    SerialPort &port() { return *m_port; }
    // "COM3 (/dev/ttyUSB2)", or the device path given.
    const QString &port_label() const { return m_label; }

    // Queues one poll of the measurement block. The master sends nothing
    // on its own: a command asks for every frame it needs.
    void ask_measurement();
    bool idle() { return m_master.link().ring.empty(); }
    // As the window polls: whenever nothing else is queued. The poll of the
    // last tick is then left unanswered, and the next run drops its reply.
    void poll_every_tick() { m_master.link().idle_pdu = measurement_poll_pdu(); }

    // Ticks until done() holds after a tick (true), or until stop() or the
    // timeout (false). The first frame goes out at once.
    bool run(const std::function<bool()> &done);
    // What was asked for came closer: the timeout starts again.
    void progress();
    // No more timeout for this run (a monitor that has had its first answer).
    void wait_forever() { m_deadline_ms = -1; }
    void stop();

    // The timeout message on standard error; returns exit_no_answer.
    int no_answer() const;

private:
    void tick(const std::function<bool()> &done);
    void note(const Exchange &e);

    std::unique_ptr<SerialPort> m_port;
    Master m_master;
    QString m_label;
    int m_timeout_ms = 3000;
    qint64 m_deadline_ms = 0;
    QEventLoop *m_loop = nullptr;
    bool m_done = false;
    int m_last_exception = -1;
    int m_crc_failures = 0;
};
