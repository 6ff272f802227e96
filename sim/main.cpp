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
int g_signal_fd[2] = {-1, -1};

void on_signal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signal_fd[0], &c, 1);
}

// SIGINT/SIGTERM end the event loop so that destructors clean up.
void quit_on_signals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signal_fd) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signal_fd[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
#else
// Ctrl+C ends the process; there is no symbolic link to remove on Windows.
void quit_on_signals(QCoreApplication &) {}
#endif

// A controller for each address, with its memory file where one is asked for.
std::vector<std::unique_ptr<sim::Controller>> make_line(const Options &o)
{
    std::vector<std::unique_ptr<sim::Controller>> line;
    for (int address : o.addresses) {
        // Address 1 keeps the seed as given, so one controller plays as it always has.
        auto ctl = std::make_unique<sim::Controller>(o.seed + quint32(address - 1), address);
        QString error;
        const QString file = QString(o.memory).replace(memory_pattern, QString::number(address));
        if (!o.memory.isEmpty() && !ctl->attach_file(file, &error))
            fail(error);
        if (o.ignored_write != 0 && !ctl->ignore_writes_to(o.ignored_write))
            fail(QStringLiteral("--ignore-write: ни один параметр не начинается с %1")
                     .arg(o.ignored_write));
        line.push_back(std::move(ctl));
    }
    return line;
}

void announce(const QString &path)
{
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
}

int serve_pty(QCoreApplication &app, sim::Server &server, sim::Pty &pty, const Options &o)
{
    QString error;
    if (!pty.open(&error) || (!o.symlink.isEmpty() && !pty.make_symlink(o.symlink, &error)))
        fail(error);
    pty.on_received([&server](const QByteArray &b) { server.received(b); });
    announce(pty.device_path());
    return app.exec();
}

int serve_device(QCoreApplication &app, sim::Server &server, QSerialPort &port, const Options &o)
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
    const Options o = parse_options(app);

    const std::vector<std::unique_ptr<sim::Controller>> line = make_line(o);
    sim::RtuSlave slave(*line.front(), quint8(o.addresses.front()), o.faults, o.seed);
    for (size_t i = 1; i < line.size(); ++i)
        slave.serve(quint8(o.addresses[qsizetype(i)]), *line[i]);
    quit_on_signals(app);
    if (o.mbtcp_port >= 0)
        return serve_mbtcp(app, slave, o);

    sim::Pty pty;
    QSerialPort port;
    const bool on_device = !o.device.isEmpty();
    sim::Server server(
        slave,
        [&](const QByteArray &b) { return on_device ? port.write(b) == b.size() : pty.write(b); },
        o.verbose, o.pacing);
    if (o.garbage_ms > 0)
        server.start_garbage(o.garbage_ms);
    return on_device ? serve_device(app, server, port, o) : serve_pty(app, server, pty, o);
}
