#pragma once
// rzt604-sim's command line: its options, their help and their checks.

#include "rtu_slave.h"
#include "server.h"

#include <QList>
#include <QString>

class QCoreApplication;

struct Options {
    QList<int> addresses;
    quint32 seed = 0;
    QString symlink; // --link
    QString device;
    QString memory;
    int ignored_write = 0;
    int garbage_ms = 0;
    bool verbose = false;
    sim::Faults faults;
    sim::Pacing pacing;
    int mbtcp_port = -1; // none
    bool gateway_exceptions = false;
};

// Replaced by the address in a --memory FILE.
extern const QString memory_pattern;

// The message on standard error, and exit status 2.
[[noreturn]] void fail(const QString &message);

// The options given, checked; --help and --version end the process here.
Options parse_options(const QCoreApplication &app);
