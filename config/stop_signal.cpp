#include "stop_signal.h"

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <utility>

#include <windows.h>
#endif

#ifdef Q_OS_UNIX
namespace {

int signal_fd[2] = {-1, -1};

void on_signal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signal_fd[0], &c, 1);
}

} // namespace

void stop_on_signals(QObject *owner, const std::function<void()> &stop)
{
    if (signal_fd[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_fd) != 0)
        return;
    auto *notifier = new QSocketNotifier(signal_fd[1], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [stop] {
        char c = 0;
        [[maybe_unused]] ssize_t n = ::read(signal_fd[1], &c, 1);
        stop();
    });
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
#elif defined(Q_OS_WIN)
namespace {

// Set on the main thread before the handler is installed; read by the
// handler, which Windows runs on a thread of its own.
QObject *stop_owner = nullptr;
std::function<void()> *stop_call = nullptr;

// Ctrl+C, Ctrl+Break or the console closing. The stop is posted into the
// owner's event loop, which ends the run between two ticks.
BOOL WINAPI on_console_event(DWORD event)
{
    if (stop_owner)
        QMetaObject::invokeMethod(
            stop_owner,
            [] {
                if (stop_call)
                    (*stop_call)();
            },
            Qt::QueuedConnection);
    // The console window is closing: the process ends when this returns, so
    // the main thread gets its moment to close its files.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        Sleep(3000);
    return TRUE;
}

} // namespace

void stop_on_signals(QObject *owner, const std::function<void()> &stop)
{
    stop_owner = owner;
    stop_call = new std::function<void()>(stop);
    SetConsoleCtrlHandler(on_console_event, TRUE);
    QObject::connect(owner, &QObject::destroyed, [] {
        SetConsoleCtrlHandler(on_console_event, FALSE);
        stop_owner = nullptr;
        delete std::exchange(stop_call, nullptr);
    });
}
#else
// Ctrl+C ends the process; rows already written have been flushed.
void stop_on_signals(QObject *, const std::function<void()> &) {}
#endif
