#pragma once
// The line for one command of rzt604-cli: the port the command line names,
// the line object over it (the same as the window's, with its reconnect),
// and an event loop run until the command has what it asked for.

#include "cli_args.h"
#include "line.h"

#include <QEventLoop>

#include <functional>
#include <memory>

class CliLine {
public:
    // exit_ok, or exit_port with the reason on standard error.
    int open(const CliArgs &args);

    Line &line() { return *m_line; }
    // "COM3 (/dev/ttyUSB2)", or the device path given.
    const QString &port_label() const { return m_label; }

    // Ticks until done() holds after a tick (true), or until stop() or
    // SIGINT/SIGTERM (false), or the timeout passes without progress (false,
    // timed_out()). The first frame goes out at once.
    bool run(const std::function<bool()> &done);
    // What was asked for came closer: the timeout starts again.
    void progress();
    // A silence longer than the timeout is said on standard error, once,
    // and the run goes on (a monitor).
    void keep_waiting() { m_keep_waiting = true; }
    void stop();
    bool timed_out() const { return m_timed_out; }
    bool interrupted() const { return m_interrupted; }

    // The timeout message on standard error; returns exit_no_answer.
    int no_answer() const;

private:
    void after_tick(const std::function<bool()> &done);
    void note(const Exchange &e);
    QString silence_text() const;

    std::unique_ptr<Line> m_line;
    QString m_label;
    int m_timeout_ms = 3000;
    qint64 m_deadline_ms = 0;
    QEventLoop *m_loop = nullptr;
    bool m_done = false;
    bool m_keep_waiting = false;
    bool m_silent = false;
    bool m_timed_out = false;
    bool m_interrupted = false;
    int m_last_exception = -1;
    int m_crc_failures = 0;
};
