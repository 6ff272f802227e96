#pragma once
// The line for one command of rzt604-cli: the port the command line names,
// the line object over it (the same as the window's, with its reconnect),
// and an event loop run until the command has what it asked for.

#include "cli_args.h"
#include "line.h"

#include <QEventLoop>
#include <QHash>
#include <QSet>

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
    // SIGINT/SIGTERM (false), or the timeout passes without progress
    // (false). The first frame goes out at once.
    bool run(const std::function<bool()> &done);
    // What was asked for came closer (from this address, with several on
    // the line): the timeout starts again.
    void progress(int address = -1);
    // A silence of an address longer than the timeout is said on standard
    // error, once, as is its end, and the run goes on (a monitor, a
    // publisher); answering() is told of both.
    void keep_waiting() { m_keep_waiting = true; }
    std::function<void(int address, bool answering)> answering;
    const QList<int> &addresses() const { return m_addresses; }
    void stop();
    bool interrupted() const { return m_interrupted; }

    // The timeout message on standard error, naming the addresses that did
    // not answer (all of them when none are given); returns exit_no_answer.
    int no_answer(const QList<int> &silent = {}) const;

private:
    void after_tick(const std::function<bool()> &done);
    // Keeps what the silence message may name: exceptions, bad CRCs, noise.
    void tally(const Exchange &e);
    QString silence_text(const QString &who) const;
    QString who(int address) const;
    void check_silences(qint64 now);

    std::unique_ptr<Line> m_line;
    QString m_label;
    int m_timeout_ms = 3000;
    qint64 m_deadline_ms = 0;
    QEventLoop *m_loop = nullptr;
    bool m_done = false;
    bool m_keep_waiting = false;
    QList<int> m_addresses;
    QHash<int, qint64> m_last_answer_ms; // per address, in keep_waiting runs
    QSet<int> m_silent;
    bool m_interrupted = false;
    int m_last_exception = -1;
    int m_crc_failures = 0;
    int m_malformed = 0;
    qint64 m_noise_bytes = 0;
};
