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
    QString link;
    QString device;
    QString memory;
    int ignoredWrite = 0;
    int garbageMs = 0;
    bool verbose = false;
    sim::Faults faults;
    sim::Pacing pacing;
    int mbtcp_port = -1; // none
    bool gateway_exceptions = false;
};

// Replaced by the address in a --memory FILE.
extern const QString MemoryPattern;

// The message on standard error, and exit status 2.
[[noreturn]] void fail(const QString &message);

// The options given, checked; --help and --version end the process here.
Options parseOptions(const QCoreApplication &app);
