// The trend window over a long run: a shift of replies fed at full speed
// into the hidden window while it records, then what it costs to draw.
//   bench_trend [--hours H] [--live S] [--show S]
// --show keeps the window open with live data for S seconds (for a look or
// a screenshot) instead of measuring.
#include "program_look.h"
#include "trend_chart.h"
#include "trend_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>

namespace {

constexpr qint64 period_ms = 150; // one reply per 150 ms: 192,000 in 8 hours

// Three phase currents around 5 A with a slow swing and now and then a
// spike, 50 Hz with a little drift, and two slow analog inputs.
Measurement synthetic(qint64 i, qint64 t0)
{
    Measurement m;
    m.carried = Measurement::register_count;
    m.time_ms = t0 + i * period_ms;
    const double x = double(i);
    const double spike = (i % 9973 == 0) ? 9.0 : 0.0;
    const int ma[3] = {int(5000 + 800 * std::sin(x / 400) + spike * 1000),
                       int(4800 + 700 * std::sin(x / 430 + 2)),
                       int(5100 + 600 * std::sin(x / 470 + 4))};
    m.registers[4] = uint16_t(ma[0]);
    m.registers[5] = uint16_t(ma[1]);
    m.registers[6] = uint16_t(ma[2]);
    m.registers[7] = uint16_t(5000 + 8 * std::sin(x / 1500));
    m.registers[8] = uint16_t(12 + 3 * std::sin(x / 3000));
    m.registers[9] = uint16_t(i / 5000 % 10);
    return m;
}

long rss_kib()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double cpu_s()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for s seconds with a reply every period_ms; the CPU
// share it took, in percent.
double live(TrendWindow &w, qint64 &i, qint64 t0, double s)
{
    QTimer tick;
    tick.setInterval(int(period_ms));
    QObject::connect(&tick, &QTimer::timeout, [&] { w.add_measurement(synthetic(i++, t0)); });
    const double cpu0 = cpu_s();
    QElapsedTimer wall;
    wall.start();
    tick.start();
    QTimer::singleShot(int(s * 1000), qApp, &QCoreApplication::quit);
    qApp->exec();
    return 100.0 * (cpu_s() - cpu0) / (double(wall.elapsed()) / 1000.0);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    apply_program_look(app);
    const QStringList args = app.arguments();
    const auto option = [&](const char *name, double fallback) {
        const qsizetype at = args.indexOf(QString::fromLatin1(name));
        return at >= 0 && at + 1 < args.size() ? args[at + 1].toDouble() : fallback;
    };
    const double hours = option("--hours", 8);
    const double live_s = option("--live", 5);
    const double show_s = option("--show", 0);

    QTemporaryDir dir;
    const long rss0 = rss_kib();
    TrendWindow w;
    const long rss_window = rss_kib();
    w.set_threshold(3, 9000);
    w.set_threshold(5, 13500);
    w.start_recording(dir.filePath(QStringLiteral("bench.csv")));
    const qint64 n = qint64(hours * 3600 * 1000 / period_ms);
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - n * period_ms;
    qint64 i = 0;
    const double cpu0 = cpu_s();
    QElapsedTimer wall;
    wall.start();
    for (; i < n; ++i)
        w.add_measurement(synthetic(i, t0));
    const double feed_wall = double(wall.elapsed()) / 1000.0;
    const double feed_cpu = cpu_s() - cpu0;
    w.recorder().flush();
    const long rss1 = rss_kib();
    std::printf("trend: %lld replies (%.1f h at %lld ms) fed while hidden and recording\n", n,
                hours, period_ms);
    std::printf("trend: feed %.2f s wall, %.2f s CPU, %.1f us CPU per reply\n", feed_wall, feed_cpu,
                feed_cpu * 1e6 / double(n));
    std::printf("trend: RSS %ld KiB before the window, %ld KiB with it, %ld KiB after the feed "
                "(+%ld KiB)\n",
                rss0, rss_window, rss1, rss1 - rss_window);
    std::printf("trend: points held %d, CSV rows %lld, CSV bytes %lld\n", w.buffer().held(),
                w.recorder().rows(), QFile(w.recorder().path()).size());

    if (show_s > 0) {
        w.show();
        live(w, i, t0, show_s);
        return 0;
    }
    std::printf("trend: live %.0f s hidden: %.2f %% CPU\n", live_s, live(w, i, t0, live_s));
    w.show();
    auto *cmb = w.findChild<QComboBox *>(QStringLiteral("cmb_window"));
    for (int k = 0; k < cmb->count(); ++k) {
        cmb->setCurrentIndex(k);
        QElapsedTimer t;
        t.start();
        constexpr int rounds = 10;
        for (int r = 0; r < rounds; ++r) {
            w.refresh();
            w.grab(); // lay out and paint, as a shown window does
        }
        std::printf("trend: redraw and paint \"%s\": %.1f ms\n", qPrintable(cmb->currentText()),
                    double(t.elapsed()) / rounds);
    }
    cmb->setCurrentIndex(1);
    std::printf("trend: live %.0f s shown (10 мин): %.2f %% CPU\n", live_s, live(w, i, t0, live_s));
    std::printf("trend: RSS at the end %ld KiB\n", rss_kib());
    return 0;
}
