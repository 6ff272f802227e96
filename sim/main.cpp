// rzt604-sim: a Modbus RTU slave that stands in for the RZT-604D controller.

#include "pty.h"
#include "rtu_slave.h"
#include "server.h"
#include "version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSerialPort>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>
#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

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
};

#ifdef Q_OS_UNIX
int g_signalFd[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalFd[0], &c, 1);
}

// SIGINT/SIGTERM end the event loop so that destructors clean up.
void quitOnSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFd) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalFd[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
#else
// Ctrl+C ends the process; there is no link to remove on Windows.
void quitOnSignals(QCoreApplication &) {}
#endif

const QString MemoryPattern = QStringLiteral("{address}");

[[noreturn]] void fail(const QString &message)
{
    std::fprintf(stderr, "rzt604-sim: %s\n", qPrintable(message));
    std::exit(2);
}

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
        "on standard output, then serves it until SIGINT or SIGTERM."));
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
        {{"v", "verbose"},
         "Log requests, replies and faults in hex with timestamps to standard error."},
        // Not addVersionOption(): its -v is taken by --verbose.
        {"version", "Print the version and exit."},
    });
}

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
    return o;
}

// A controller for each address, with its memory file where one is asked for.
std::vector<std::unique_ptr<sim::Controller>> makeLine(const Options &o)
{
    std::vector<std::unique_ptr<sim::Controller>> line;
    for (int address : o.addresses) {
        // Address 1 keeps the seed as given, so one controller plays as it always has.
        auto ctl = std::make_unique<sim::Controller>(o.seed + quint32(address - 1), address);
        QString error;
        const QString file = QString(o.memory).replace(MemoryPattern, QString::number(address));
        if (!o.memory.isEmpty() && !ctl->attachFile(file, &error))
            fail(error);
        if (o.ignoredWrite != 0 && !ctl->ignoreWritesTo(o.ignoredWrite))
            fail(QStringLiteral("--ignore-write: no parameter starts at %1").arg(o.ignoredWrite));
        line.push_back(std::move(ctl));
    }
    return line;
}

void announce(const QString &path)
{
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
}

int servePty(QCoreApplication &app, sim::Server &server, sim::Pty &pty, const Options &o)
{
    QString error;
    if (!pty.open(&error) || (!o.link.isEmpty() && !pty.makeLink(o.link, &error)))
        fail(error);
    pty.onReceived([&server](const QByteArray &b) { server.received(b); });
    announce(pty.devicePath());
    return app.exec();
}

int serveDevice(QCoreApplication &app, sim::Server &server, QSerialPort &port, const Options &o)
{
    port.setPortName(o.device);
    port.setBaudRate(QSerialPort::Baud115200);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite))
        fail(QStringLiteral("%1: %2").arg(o.device, port.errorString()));
    QObject::connect(&port, &QSerialPort::readyRead, [&] { server.received(port.readAll()); });
    announce(o.device);
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rzt604-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RZT_VERSION));
    const Options o = parseOptions(app);

    const std::vector<std::unique_ptr<sim::Controller>> line = makeLine(o);
    sim::RtuSlave slave(*line.front(), quint8(o.addresses.front()), o.faults, o.seed);
    for (size_t i = 1; i < line.size(); ++i)
        slave.serve(quint8(o.addresses[qsizetype(i)]), *line[i]);

    sim::Pty pty;
    QSerialPort port;
    const bool onDevice = !o.device.isEmpty();
    sim::Server server(
        slave,
        [&](const QByteArray &b) { return onDevice ? port.write(b) == b.size() : pty.write(b); },
        o.verbose);
    if (o.garbageMs > 0)
        server.startGarbage(o.garbageMs);
    quitOnSignals(app);
    return onDevice ? serveDevice(app, server, port, o) : servePty(app, server, pty, o);
}
