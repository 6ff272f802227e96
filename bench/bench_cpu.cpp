// The program's CPU share while it polls the simulator, against a bare Qt
// window polling the same way.
//   bench_cpu --trend K [--seconds S] [--every S] [simulator options...]
//       the trend window shown at span K of its list (0: 1 мин .. 3: Всё);
//       the share every S seconds and over the run, so that a cost growing
//       as the span fills shows
//   bench_cpu --idle [--seconds S]
//       the main window alone: the monitor and the trend opened once and
//       closed again, as an operator leaves them
//   bench_cpu --unseen [--seconds S]
//       the program with its main window hidden too: the polling alone
//   bench_cpu --bare [--seconds S]
//       the baseline: a plain QWidget with ten labels and a 150 ms timer
//       that writes the poll to the simulator's pseudo-terminal, reads the
//       reply with plain read() and write() and shows its ten registers in
//       the labels, so that it draws what the main window draws
// Each run settles for two seconds first.

#include "frm_main.h"
#include "program_look.h"
#include "qt_serial_port.h"
#include "sim_line.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

double cpu_s()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int option(QStringList &args, const char *name, int fallback)
{
    const qsizetype at = args.indexOf(QString::fromLatin1(name));
    if (at < 0 || at + 1 >= args.size())
        return fallback;
    const int value = args[at + 1].toInt();
    args.remove(at, 2);
    return value;
}

// The poll of address 1, as the program sends it; the ten registers of
// whatever came back since the last tick, shown as they are.
void bare_tick(int fd, const std::vector<QLabel *> &labels)
{
    static const QByteArray poll = QByteArray::fromHex("010300c8000a4433");
    unsigned char reply[256];
    ssize_t got = 0;
    for (ssize_t n; (n = read(fd, reply + got, sizeof reply - size_t(got))) > 0;)
        got += n;
    if (got >= 25 && reply[1] == 3 && reply[2] == 20) {
        for (size_t i = 0; i < labels.size(); ++i) {
            const int value = reply[3 + 2 * i] << 8 | reply[4 + 2 * i];
            labels[i]->setText(QString::number(value / 100.0, 'f', 2));
        }
    }
    if (write(fd, poll.constData(), size_t(poll.size())) != poll.size())
        std::fprintf(stderr, "bench: the poll was not written\n");
}

int open_raw(const QString &pty)
{
    const int fd = open(qPrintable(pty), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        return -1;
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    apply_program_look(app);
    QStringList args = app.arguments().mid(1);
    const bool bare = args.removeAll(QStringLiteral("--bare")) > 0;
    const bool idle = args.removeAll(QStringLiteral("--idle")) > 0;
    const bool unseen = args.removeAll(QStringLiteral("--unseen")) > 0;
    const int span = option(args, "--trend", -1);
    const int seconds = option(args, "--seconds", 60);
    const int every = option(args, "--every", seconds);

    SimLine line(args);
    std::unique_ptr<FrmMain> win;
    QWidget plain;
    std::vector<QLabel *> labels;
    QTimer poll;
    if (bare) {
        const int fd = open_raw(line.pty());
        if (fd < 0)
            return 1;
        plain.resize(400, 300);
        auto *column = new QVBoxLayout(&plain);
        for (int i = 0; i < 10; ++i) {
            labels.push_back(new QLabel(QStringLiteral("-"), &plain));
            column->addWidget(labels.back());
        }
        plain.show();
        poll.setInterval(150);
        poll.setTimerType(Qt::PreciseTimer);
        QObject::connect(&poll, &QTimer::timeout, [fd, &labels] { bare_tick(fd, labels); });
        poll.start();
    } else {
        win = std::make_unique<FrmMain>(std::make_unique<QtSerialPort>(line.ini_path()),
                                        line.ini_path());
        if (!win->Form_Load())
            return 1;
        if (idle)
            win->findChild<QAction *>(QStringLiteral("mnu_monitor"))->trigger();
        if (idle || span >= 0)
            win->findChild<QAction *>(QStringLiteral("mnu_trend"))->trigger();
        if (unseen)
            win->hide();
        if (span >= 0)
            win->findChild<QComboBox *>(QStringLiteral("cmb_window"))->setCurrentIndex(span);
    }
    QString what = bare     ? QStringLiteral("bare window")
                   : unseen ? QStringLiteral("no window")
                            : QStringLiteral("main window");
    if (span >= 0)
        what = QStringLiteral("trend, ") +
               win->findChild<QComboBox *>(QStringLiteral("cmb_window"))->currentText();

    double start = 0;
    double mark = 0;
    double worst = 0;
    QElapsedTimer clock;
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        const double now = cpu_s();
        const double share = 100.0 * (now - mark) / every;
        worst = std::max(worst, share);
        std::printf("%s: %4lld s  %.2f %%\n", qPrintable(what), clock.elapsed() / 1000, share);
        std::fflush(stdout);
        mark = now;
    });
    // Two seconds to settle (start-up reads, first paint), then measure.
    QTimer::singleShot(2000, [&] {
        if (idle) {
            win->monitor()->close();
            win->findChild<QWidget *>(QStringLiteral("trend"))->close();
        }
        start = mark = cpu_s();
        clock.start();
        if (every < seconds)
            report.start(every * 1000);
        QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    });
    app.exec();
    const double share = 100.0 * (cpu_s() - start) / (double(clock.elapsed()) / 1000.0);
    QString summary =
        QStringLiteral("%1: %2 % of a core over %3 s").arg(what).arg(share, 0, 'f', 3).arg(seconds);
    if (every < seconds)
        summary += QStringLiteral(", worst %1 s: %2 %").arg(every).arg(worst, 0, 'f', 2);
    std::printf("%s\n", qPrintable(summary));
    return 0;
}
