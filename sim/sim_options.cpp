#include "sim_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <random>

const QString MemoryPattern = QStringLiteral("{address}");

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "rzt604-sim: %s\n", qPrintable(message));
    std::exit(2);
}

namespace {

double shareOption(const QCommandLineParser &p, const QString &name)
{
    bool ok = false;
    const double v = p.value(name).toDouble(&ok);
    if (!ok || v < 0 || v > 1)
        fail(QStringLiteral("--%1 wants a share from 0 to 1").arg(name));
    return v;
}

long intOption(const QCommandLineParser &p, const QString &name, long low, long high)
{
    bool ok = false;
    const long v = p.value(name).toLong(&ok);
    if (!ok || v < low || v > high)
        fail(
            QStringLiteral("--%1 wants a whole number from %2 to %3").arg(name).arg(low).arg(high));
    return v;
}

void addOptions(QCommandLineParser &p)
{
    p.setApplicationDescription(QStringLiteral(
        "Simulated RZT-604Д current-monitoring controller: a Modbus RTU slave at 115200 8N1.\n"
        "Answers function 3 for registers 200..209 (200 status, 201/202 protocol 2.05 and\n"
        "software 1.12, 203 read counter, 204..206 phase currents in mA near 1200, 207 frequency\n"
        "in 0.01 Hz near 5000, 208/209 analog inputs) and functions 100/101 that read and write\n"
        "the 14-byte parameter memory at 257..270. Memory defaults: trims 100 100 100 %,\n"
        "imax_timed 5000 mA, timer 125 (12.5 s), imax_instant 20000 mA, CT 1000 (100.0 A),\n"
        "current offset 0, relay mode 0.\n"
        "Several addresses (--address 1,2,5) play several controllers on one line, each with\n"
        "its own readings and memory: every address above 1 adds 100 mA to the currents,\n"
        "10 (0.1 Hz) to the frequency over a cycle of five addresses and 10 (1 s) to the\n"
        "timer, repeating every 32 addresses. Other addresses get no answer; a broadcast\n"
        "write (address 0) goes into every memory. The fault options act on the whole line.\n"
        "A request ends after the length its function code implies; other functions end after\n"
        "20 ms of silence, which also discards incomplete frames and line noise.\n"
        "By default it creates a pseudo-terminal and prints its device path as the first line\n"
        "on standard output, then serves it until SIGINT or SIGTERM. Replies go out whole at\n"
        "once unless --baud gives them a serial line's time.\n"
        "With --mbtcp it serves Modbus TCP instead, with no pseudo-terminal: the same\n"
        "controllers, each at its address as the unit id, to any number of clients at once;\n"
        "the first line on standard output is then mbtcp://127.0.0.1:PORT, the port it\n"
        "listens on (the one it picked for --mbtcp 0). --drop, --split, --delay,\n"
        "--exception and --ignore-write act there too; --corrupt and --garbage, which\n"
        "belong to a serial line, are refused."));
    p.addHelpOption();
    p.addOptions({
        {{"a", "address"},
         "Slave addresses to answer, 1..247: one (5), a list (1,2,5), a range (1-4) or "
         "both (1,3-5); default 1.",
         "LIST",
         "1"},
        {"seed", "Seed for the measurement noise and the fault choices (default: random).", "N"},
        {"link",
         "Also make a symbolic link PATH to the pseudo-terminal (a stale link is replaced).",
         "PATH"},
        {"device", "Serve an existing serial device at 115200 8N1 instead of a pseudo-terminal.",
         "PATH"},
        {"memory",
         "Keep the parameter memory in FILE: loaded at start if present, saved after each write. "
         "{address} in FILE is replaced by the address; with several addresses it is required, "
         "so that each controller has a file of its own.",
         "FILE"},
        {"drop", "Share P (0..1) of replies that are not sent.", "P", "0"},
        {"corrupt", "Share P (0..1) of replies sent with a wrong CRC.", "P", "0"},
        {"split", "Share P (0..1) of replies sent in two parts with a pause between them.", "P",
         "0"},
        {"split-pause", "Pause between the two parts of a split reply (default 200).", "MS", "200"},
        {"delay", "Delay every reply by MS milliseconds (default 0).", "MS", "0"},
        {"exception", "Answer every request with exception CODE (1..255).", "CODE"},
        {"ignore-write",
         "Answer writes to the parameter at ADDR (257..270) but keep its old value, at every "
         "address.",
         "ADDR"},
        {"garbage", "Send a few random unsolicited bytes every MS milliseconds.", "MS"},
        {"baud",
         "Pace the replies as a serial line at N baud, 8N1, would: ten bits a byte (86.8 us at "
         "115200), one reply after another. With --mbtcp a reply goes out whole once its last "
         "byte would have arrived. Not with --device, which keeps its own time.",
         "N"},
        {"turnaround",
         "With --baud: the reply's first byte leaves MS milliseconds after the request's last "
         "byte (default 0); --delay adds to it.",
         "MS"},
        {"mbtcp",
         "Serve Modbus TCP on PORT of 127.0.0.1 instead of a pseudo-terminal; 0 picks a free "
         "port. The first line on standard output is mbtcp://127.0.0.1:PORT.",
         "PORT"},
        {"gateway-exceptions",
         "With --mbtcp: answer for a unit that gives no answer (another address, a dropped "
         "reply) with exception 0x0B, and for a unit id outside 1..247 with 0x0A, as a gateway "
         "does; without it both get no answer."},
        {{"v", "verbose"},
         "Log requests, replies and faults in hex with timestamps to standard error."},
        // Not addVersionOption(): its -v is taken by --verbose.
        {"version", "Print the version and exit."},
    });
}

// --baud, --turnaround, --mbtcp and what goes with them.
void parse_line_options(const QCommandLineParser &p, Options &o)
{
    o.pacing.baud = p.isSet("baud") ? int(intOption(p, "baud", 300, 4000000)) : 0;
    if (p.isSet("turnaround") && o.pacing.baud == 0)
        fail(QStringLiteral("--turnaround needs --baud"));
    o.pacing.turnaround_ms = p.isSet("turnaround") ? int(intOption(p, "turnaround", 0, 60000)) : 0;
    if (o.pacing.baud > 0 && !o.device.isEmpty())
        fail(QStringLiteral("--baud paces a pseudo-terminal or --mbtcp; a --device keeps its own "
                            "time"));
    o.gateway_exceptions = p.isSet("gateway-exceptions");
    if (!p.isSet("mbtcp")) {
        if (o.gateway_exceptions)
            fail(QStringLiteral("--gateway-exceptions needs --mbtcp"));
        return;
    }
    o.mbtcp_port = int(intOption(p, "mbtcp", 0, 65535));
    for (const char *serial : {"link", "device", "garbage", "corrupt"}) {
        if (p.isSet(QLatin1String(serial)))
            fail(QStringLiteral("--%1 belongs to a serial line, not to --mbtcp")
                     .arg(QLatin1String(serial)));
    }
}

} // namespace

Options parseOptions(const QCoreApplication &app)
{
    QCommandLineParser p;
    addOptions(p);
    p.process(app);
    if (p.isSet("version"))
        p.showVersion();
    if (!p.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument %1 (see --help)")
                 .arg(p.positionalArguments().first()));
    Options o;
    QString error;
    o.addresses = sim::parseAddressList(p.value("address"), &error);
    if (o.addresses.isEmpty())
        fail(QStringLiteral("--address: %1").arg(error));
    o.seed =
        p.isSet("seed") ? quint32(intOption(p, "seed", 0, 0xFFFFFFFFL)) : std::random_device{}();
    o.link = p.value("link");
    o.device = p.value("device");
    if (!o.link.isEmpty() && !o.device.isEmpty())
        fail(QStringLiteral("--link applies to the pseudo-terminal, not to --device"));
    o.memory = p.value("memory");
    if (o.addresses.size() > 1 && !o.memory.isEmpty() && !o.memory.contains(MemoryPattern))
        fail(QStringLiteral("--memory: with several addresses FILE needs %1").arg(MemoryPattern));
    o.verbose = p.isSet("verbose");
    o.ignoredWrite = p.isSet("ignore-write") ? int(intOption(p, "ignore-write", 257, 270)) : 0;
    o.garbageMs = p.isSet("garbage") ? int(intOption(p, "garbage", 1, 3600000)) : 0;
    o.faults.drop = shareOption(p, "drop");
    o.faults.corrupt = shareOption(p, "corrupt");
    o.faults.split = shareOption(p, "split");
    o.faults.splitPauseMs = int(intOption(p, "split-pause", 0, 60000));
    o.faults.delayMs = int(intOption(p, "delay", 0, 60000));
    o.faults.exceptionCode = p.isSet("exception") ? int(intOption(p, "exception", 1, 255)) : 0;
    parse_line_options(p, o);
    return o;
}
