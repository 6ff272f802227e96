// The polling cycle against the simulator, with the traffic monitor or the
// trend window open or not: the period between Timer1 ticks and the
// process's CPU share.
//   bench_monitor [--monitor [--full]] [--trend] [--seconds S] [simulator options...]
// --full fills the monitor to its line limit first, so that every line
// added drops the oldest.

#include "frm_main.h"
#include "qt_serial_port.h"
#include "sim_line.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <numeric>
#include <vector>

namespace {

double cpu_seconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList sim_options = app.arguments().mid(1);
    const bool monitor = sim_options.removeAll(QStringLiteral("--monitor")) > 0;
    const bool full = sim_options.removeAll(QStringLiteral("--full")) > 0;
    const bool trend = sim_options.removeAll(QStringLiteral("--trend")) > 0;
    int seconds = 20;
    const qsizetype at = sim_options.indexOf(QStringLiteral("--seconds"));
    if (at >= 0 && at + 1 < sim_options.size()) {
        seconds = sim_options[at + 1].toInt();
        sim_options.remove(at, 2);
    }

    SimLine line(sim_options);
    FrmMain win(std::make_unique<QtSerialPort>(line.ini_path()), line.ini_path());
    if (!win.Form_Load())
        return 1;
    if (monitor)
        win.findChild<QAction *>(QStringLiteral("mnu_monitor"))->trigger();
    if (trend)
        win.findChild<QAction *>(QStringLiteral("mnu_trend"))->trigger();
    if (monitor && full) {
        Exchange e;
        e.port_open = true;
        e.sent = QByteArray::fromHex("010300c8000a4433");
        e.sent_ms = QDateTime::currentMSecsSinceEpoch();
        for (int n = 0; n < TrafficLog::max_lines; ++n)
            win.monitor()->add_exchange(e);
        win.monitor()->flush();
    }

    QElapsedTimer clock;
    std::vector<qint64> ticks_ns;
    ticks_ns.reserve(size_t(seconds) * 10);
    double cpu_start = 0;
    QObject::connect(&win.line(), &Line::exchanged, [&] {
        if (clock.isValid())
            ticks_ns.push_back(clock.nsecsElapsed());
    });
    // One second to settle (start-up reads, first paint), then measure.
    QTimer::singleShot(1000, [&] {
        clock.start();
        cpu_start = cpu_seconds();
        QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    });
    app.exec();
    const double cpu = cpu_seconds() - cpu_start;
    const double wall = double(clock.nsecsElapsed()) / 1e9;

    std::vector<double> gaps;
    for (size_t i = 1; i < ticks_ns.size(); ++i)
        gaps.push_back(double(ticks_ns[i] - ticks_ns[i - 1]) / 1e6);
    const double mean =
        gaps.empty() ? 0 : std::accumulate(gaps.begin(), gaps.end(), 0.0) / double(gaps.size());
    const double max = gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
    const char *open = monitor ? "monitor open" : trend ? "trend open" : "window alone";
    std::printf("%-12s  %4zu ticks in %.1f s   period mean %.2f ms  max %.2f ms   CPU %.2f "
                "s = %.1f %%\n",
                open, ticks_ns.size(), wall, mean, max, cpu, 100.0 * cpu / wall);
    if (monitor && win.monitor() != nullptr)
        std::printf("  %s; %zu lines held\n", qPrintable(win.monitor()->log().counters_text()),
                    win.monitor()->log().lines().size());
    return 0;
}
