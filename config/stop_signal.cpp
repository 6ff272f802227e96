#include "stop_signal.h"

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
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
#else
// Ctrl+C ends the process; rows already written have been flushed.
void stop_on_signals(QObject *, const std::function<void()> &) {}
#endif
