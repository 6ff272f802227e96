// rzt604-cli publish with eight controllers on one simulated line, into a
// local mosquitto, watched by mosquitto_sub: how often each controller is
// published, how long from its reply to the subscriber, and the publisher's
// CPU and memory over the run.
//   bench_publish [--minutes M] [--addresses N] [--baud B --turnaround MS] [--interval MS]
// Needs mosquitto and mosquitto_sub (scripts/deps installs them).

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <unistd.h>
#include <vector>

namespace {

int free_port()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// utime + stime of a process, in seconds.
double cpu_of(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(')').value(1).trimmed().split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
           double(sysconf(_SC_CLK_TCK));
}

long rss_kib(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[size_t(std::min<double>(double(v.size()) - 1, p * double(v.size())))];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char *name, const char *fallback) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at < 0 ? QString::fromLatin1(fallback) : args.value(at + 1);
    };
    const double minutes = option("--minutes", "1").toDouble();
    const int count = option("--addresses", "8").toInt();
    // A line that keeps its time, and how often each controller is read.
    QStringList line_time;
    if (args.contains(QLatin1String("--baud")))
        line_time << "--baud" << option("--baud", "115200") << "--turnaround"
                  << option("--turnaround", "0");
    const QString interval = option("--interval", "1000");
    const QString bin = QCoreApplication::applicationDirPath();
    const QString broker = QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"});
    const QString sub_program = QStandardPaths::findExecutable("mosquitto_sub");
    if (broker.isEmpty() || sub_program.isEmpty()) {
        std::fprintf(stderr, "bench_publish: needs mosquitto and mosquitto_sub\n");
        return 2;
    }
    QTemporaryDir dir;
    const int port = free_port();
    QFile conf(dir.filePath("mosquitto.conf"));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n"
                              "user root\n")
                   .arg(port)
                   .toUtf8());
    conf.close();
    QProcess mosquitto, sim, sub, cli;
    mosquitto.start(broker, {"-c", conf.fileName()});
    const QString symlink = dir.filePath("tty");
    sim.start(bin + "/rzt604-sim",
              QStringList{"--address", QStringLiteral("1-%1").arg(count), "--link", symlink,
                          "--memory", dir.filePath("mem-{address}.bin")} +
                  line_time);
    QThread::msleep(1000);
    sub.start(sub_program, {"-h", "127.0.0.1", "-p", QString::number(port), "-t",
                            "bench/+/measurement", "-F", "%U %p"});
    QThread::msleep(500);
    cli.start(bin + "/rzt604-cli",
              {"--port", symlink, "--address", QStringLiteral("1-%1").arg(count), "publish",
               "--mqtt", QStringLiteral("mqtt://127.0.0.1:%1").arg(port), "--topic", "bench",
               "--interval", interval});
    cli.waitForStarted();

    std::vector<double> latency_ms;
    std::map<int, std::vector<qint64>> times; // per address, reply times
    QObject::connect(&sub, &QProcess::readyReadStandardOutput, [&] {
        while (sub.canReadLine()) {
            const QByteArray line = sub.readLine().trimmed();
            const qsizetype space = line.indexOf(' ');
            const double received_s = line.left(space).toDouble();
            const QJsonObject o = QJsonDocument::fromJson(line.mid(space + 1)).object();
            const QDateTime t = QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs);
            latency_ms.push_back(received_s * 1000 - double(t.toMSecsSinceEpoch()));
            times[o["address"].toInt()].push_back(t.toMSecsSinceEpoch());
        }
    });
    // The first ten seconds settle (the reads of all parameters); then measure.
    long rss_start = 0;
    double cpu_start = 0;
    QElapsedTimer clock;
    QTimer::singleShot(10'000, [&] {
        latency_ms.clear();
        times.clear();
        rss_start = rss_kib(cli.processId());
        cpu_start = cpu_of(cli.processId());
        clock.start();
        QTimer::singleShot(int(minutes * 60'000), &app, &QCoreApplication::quit);
    });
    app.exec();
    const double cpu = cpu_of(cli.processId()) - cpu_start;
    const long rss_end = rss_kib(cli.processId());
    const double wall = double(clock.elapsed()) / 1000;
    std::vector<double> gaps;
    for (const auto &[address, list] : times) {
        for (size_t k = 1; k < list.size(); ++k)
            gaps.push_back(double(list[k] - list[k - 1]));
    }
    std::printf("publish, %d controllers on one line, %.1f min\n", count, wall / 60);
    std::printf("  measurements received: %zu\n", latency_ms.size());
    std::printf("  interval per controller: median %.0f ms, 99 %% %.0f ms\n", percentile(gaps, 0.5),
                percentile(gaps, 0.99));
    std::printf("  reply to subscriber: median %.1f ms, 99 %% %.1f ms, max %.1f ms\n",
                percentile(latency_ms, 0.5), percentile(latency_ms, 0.99),
                percentile(latency_ms, 1.0));
    std::printf("  publisher CPU: %.2f %% of one core\n", 100 * cpu / wall);
    std::printf("  publisher memory: %ld KiB at start, %ld KiB at end\n", rss_start, rss_end);
    for (QProcess *p : {&cli, &sub, &sim, &mosquitto}) {
        p->terminate();
        p->waitForFinished(10000);
    }
    return 0;
}
