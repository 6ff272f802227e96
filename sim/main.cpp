// rzt604-sim: a Modbus RTU slave that stands in for the RZT-604D controller.

#include "mbtcp_server.h"
#include "pty.h"
#include "qt_russian.h"
#include "rtu_slave.h"
#include "server.h"
#include "sim_options.h"
#include "version.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>
#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

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
            fail(QStringLiteral("--ignore-write: ни один параметр не начинается с %1")
                     .arg(o.ignoredWrite));
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

int serve_mbtcp(QCoreApplication &app, sim::RtuSlave &slave, const Options &o)
{
    sim::MbtcpServer server(slave, o.pacing, o.gateway_exceptions, o.verbose);
    const QHostAddress host(QHostAddress::LocalHost);
    QString error;
    if (!server.listen(host, quint16(o.mbtcp_port), &error))
        fail(error);
    announce(QStringLiteral("mbtcp://%1:%2").arg(host.toString()).arg(server.port()));
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rzt604-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RZT_VERSION));
    // Qt's own words in the help ("Использование", "Параметры") in Russian too.
    install_qt_russian(app);
    const Options o = parseOptions(app);

    const std::vector<std::unique_ptr<sim::Controller>> line = makeLine(o);
    sim::RtuSlave slave(*line.front(), quint8(o.addresses.front()), o.faults, o.seed);
    for (size_t i = 1; i < line.size(); ++i)
        slave.serve(quint8(o.addresses[qsizetype(i)]), *line[i]);
    quitOnSignals(app);
    if (o.mbtcp_port >= 0)
        return serve_mbtcp(app, slave, o);

    sim::Pty pty;
    QSerialPort port;
    const bool onDevice = !o.device.isEmpty();
    sim::Server server(
        slave,
        [&](const QByteArray &b) { return onDevice ? port.write(b) == b.size() : pty.write(b); },
        o.verbose, o.pacing);
    if (o.garbageMs > 0)
        server.startGarbage(o.garbageMs);
    return onDevice ? serveDevice(app, server, port, o) : servePty(app, server, pty, o);
}
