// A scan of every address, 1..247, over a pseudo-terminal to the simulator:
// once with no controller answering (the simulator drops every reply) and
// once with it at the last address.
//   bench_scan [--reply-ms N]

#include "qt_serial_port.h"
#include "scan.h"
#include "sim_line.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

void scan_once(const char *what, const QStringList &sim_options, int reply_ms)
{
    SimLine line(sim_options);
    QtSerialPort port(line.ini_path());
    if (port.set_port_number(5) != PortError::None || port.open() != PortError::None) {
        std::fprintf(stderr, "bench: cannot open the simulator's port\n");
        std::exit(1);
    }
    ScanOptions options;
    options.reply_ms = reply_ms;
    QElapsedTimer clock;
    clock.start();
    const QList<ScanHit> hits = scan_addresses(port, options);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    QStringList found;
    for (const ScanHit &hit : hits)
        found.append(QString::number(hit.address));
    std::printf("%-28s %.2f s  (%.1f ms an address)  found: %s\n", what, seconds,
                seconds * 1000 / 247, found.isEmpty() ? "none" : qPrintable(found.join(' ')));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int reply_ms = ScanOptions().reply_ms;
    const qsizetype at = app.arguments().indexOf(QStringLiteral("--reply-ms"));
    if (at > 0 && at + 1 < app.arguments().size())
        reply_ms = app.arguments()[at + 1].toInt();

    std::printf("reply time %d ms an address\n", reply_ms);
    scan_once("1..247, nobody answers", {"--drop", "1"}, reply_ms);
    scan_once("1..247, controller at 247", {"--address", "247"}, reply_ms);
    // 8-byte request, 10 bits a character, then the full reply time waited.
    const double bound = 247 * (8 * 10 / 115.2 + reply_ms) / 1000;
    std::printf("at 115200 baud with nobody answering: 247 x (0.69 ms + %d ms) = %.2f s\n",
                reply_ms, bound);
    return 0;
}
