#pragma once
// The command line of rzt604-cli: the command words, the options every
// command shares and those of single commands, all checked before a port is
// opened or a file is read.

#ifdef RZT_PUBLISH
#include "mqtt_settings.h"
#endif

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

enum ExitCode {
    exit_ok = 0,
    exit_usage = 1,
    exit_port = 2,      // the port cannot be opened
    exit_file = 3,      // invalid, refused or unwritable file
    exit_no_answer = 4, // no complete answer within the timeout
    exit_mismatch = 5,  // params set, compare: the controller keeps other values
    // publish: the broker was never reached, or messages were left undelivered
    exit_undelivered = 6,
    exit_refused = 7, // publish: the login or a certificate was refused
};

struct CliArgs {
    QStringList words;   // the command and its arguments: "params", "set", "a.json"
    QStringList options; // names of the command options given ("json", "csv", ...)

    QString port;    // "COM3" or a device path; empty for the port in тп.ini
    int address = 1; // the first of addresses
    bool address_given = false;
    QList<int> addresses{1}; // "1,2,5", "1-4", "1:4": the controllers on the line, in order
    int timeout_ms = 3000;
    int reply_timeout_ms = 150; // how long one request waits for its reply
    int interval_ms = 1000;     // monitor, publish: each controller read this often

    bool json = false;
    bool verify = false;
    QString csv;
    bool append = false;    // monitor --csv: add to an existing file
    bool overwrite = false; // monitor --csv: replace an existing file
    int duration_ms = -1;   // -1: until SIGINT or SIGTERM
    int from = 1;
    int to = 247;
    QDateTime since; // journal: invalid for no limit
    QDateTime until;

    // publish
#ifdef RZT_PUBLISH
    MqttSettings mqtt;
#endif
    QString topic; // the prefix; rzt604/<host name> by default
};

// "1,2,5", "1-4" or "1:4", "1,3-5": addresses 1..247 in the order given,
// each once.
// Empty, with why set, for anything else.
QList<int> address_list(const QString &text, QString *why);

// Exits with exit_ok after --help and with exit_usage after a usage error.
CliArgs parse_args(const QStringList &arguments);

// The same checks, with the outcome returned: the usage error (as
// parse_args says it, before " (см. --help)"), or the text --help or
// --version prints, or the arguments.
struct ParsedArgs {
    CliArgs args;
    QString error;
    QString output;
};
ParsedArgs parse_args_or_error(const QStringList &arguments);

// "rzt604-cli: text" on standard error; returns code.
int fail(int code, const QString &text);
// A notice, said the same way; the run goes on.
void note(const QString &text);
[[noreturn]] void usage_error(const QString &text);
