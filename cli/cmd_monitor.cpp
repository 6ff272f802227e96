// monitor: a CSV row for every complete measurement, polled every tick,
// until the duration ends or SIGINT/SIGTERM (Ctrl+C, Ctrl+Break or the
// console closing on Windows); the file is then closed whole.

#include "cli_link.h"
#include "commands.h"
#include "measurement_csv.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <QCoreApplication>

#include <windows.h>
#endif

namespace {

#ifdef Q_OS_UNIX
int signal_fd[2] = {-1, -1};

void on_signal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signal_fd[0], &c, 1);
}

// A signal only writes a byte; the stop itself happens in the event loop,
// between two ticks, so the last row is whole and the file is closed.
void stop_on_signals(CliLink &link, QObject *owner)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_fd) != 0)
        return;
    auto *notifier = new QSocketNotifier(signal_fd[1], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [&link] { link.stop(); });
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
#elif defined(Q_OS_WIN)
// Set and cleared on the main thread only; the stop posted by the handler
// runs there too, so it never finds a link that is gone.
CliLink *stopping_link = nullptr;

// Windows runs this on a thread of its own. The stop is posted into the
// event loop, which ends the run between two ticks, so the last row is
// whole and the file is closed.
BOOL WINAPI on_console_event(DWORD event)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app,
            [] {
                if (stopping_link)
                    stopping_link->stop();
            },
            Qt::QueuedConnection);
    // The console window is closing: the process ends when this returns, so
    // the main thread gets its moment to close the file.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        Sleep(3000);
    return TRUE;
}

void stop_on_signals(CliLink &link, QObject *owner)
{
    stopping_link = &link;
    SetConsoleCtrlHandler(on_console_event, TRUE);
    QObject::connect(owner, &QObject::destroyed, [] {
        SetConsoleCtrlHandler(on_console_event, FALSE);
        stopping_link = nullptr;
    });
}
#else
void stop_on_signals(CliLink &, QObject *) {}
#endif

bool open_output(QFile &out, const QString &path)
{
    if (path.isEmpty())
        return out.open(stdout, QIODevice::WriteOnly);
    out.setFileName(path);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

} // namespace

int run_monitor(const CliArgs &args)
{
    CliLink link;
    if (const int code = link.open(args))
        return code;
    QFile out;
    if (!open_output(out, args.csv))
        return fail(
            exit_file,
            QStringLiteral("не удалось открыть файл %1: %2").arg(args.csv, out.errorString()));
    out.write(csv_header());
    out.flush();

    int rows = 0;
    QObject::connect(&link.master(), &Master::measured, [&](const Measurement &m) {
        if (!m.complete())
            return;
        // Flushed row by row: a reader of the file sees every row within a tick.
        out.write(csv_row(m));
        out.flush();
        if (rows++ == 0)
            link.wait_forever(); // later silences leave gaps, they do not end the run
    });
    QObject owner;
    stop_on_signals(link, &owner);
    if (args.duration_ms >= 0)
        QTimer::singleShot(args.duration_ms, &owner, [&link] { link.stop(); });
    link.poll_every_tick();
    link.run([] { return false; });
    out.close();
    return rows > 0 ? exit_ok : link.no_answer();
}
