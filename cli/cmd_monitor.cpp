// monitor: a CSV row for every complete measurement, polled every tick,
// until the duration ends or SIGINT/SIGTERM; the file is then closed whole.
// A lost port or a silent controller is said on stderr and waited for.

#include "cli_line.h"
#include "commands.h"
#include "csv_recorder.h"

#include <QFileInfo>
#include <QTimer>

namespace {

CsvExisting existing_file(const CliArgs &args)
{
    if (args.append)
        return CsvExisting::append;
    return args.overwrite ? CsvExisting::overwrite : CsvExisting::refuse;
}

} // namespace

int run_monitor(const CliArgs &args)
{
    CliLine cli;
    if (const int code = cli.open(args))
        return code;
    CsvRecorder out;
    // Row by row: a reader of the file sees every row within a tick.
    out.set_flush_ms(0);
    const bool several = args.addresses.size() > 1;
    out.set_layout({several});
    const bool started =
        args.csv.isEmpty() ? out.start_stdout() : out.start(args.csv, existing_file(args));
    if (!started) {
        const bool kept = existing_file(args) == CsvExisting::refuse && QFileInfo::exists(args.csv);
        return fail(exit_file, out.error() + (kept ? QStringLiteral(" (--append дописывает в него, "
                                                                    "--overwrite заменяет его)")
                                                   : QString()));
    }

    bool failed = false;
    QObject::connect(&out, &CsvRecorder::failed, [&](const QString &message) {
        failed = true;
        fail(exit_file, message);
        cli.stop();
    });
    qint64 rows = 0;
    Line &line = cli.line();
    for (int a : args.addresses) {
        QObject::connect(&line.controller(a), &ControllerModel::measured,
                         [&](const Measurement &m) {
                             out.append(m);
                             ++rows;
                             cli.progress(m.address);
                         });
    }
    QObject owner;
    if (args.duration_ms >= 0)
        QTimer::singleShot(args.duration_ms, &owner, [&cli] { cli.stop(); });
    // Later silences leave gaps and are said on stderr; they do not end the run.
    cli.keep_waiting();
    // Several controllers on the line are asked in turn, one a tick.
    line.set_polling(true, several ? std::vector<int>(args.addresses.begin(), args.addresses.end())
                                   : std::vector<int>{});
    cli.run([] { return false; });
    out.stop();
    if (failed || !out.error().isEmpty())
        return exit_file;
    return rows > 0 ? exit_ok : cli.no_answer();
}
