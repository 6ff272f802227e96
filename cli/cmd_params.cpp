// params get / params set: the nine parameters between the controller and a
// parameter file, through the same grouped requests as the window's buttons.

#include "cli_line.h"
#include "commands.h"
#include "param_file.h"

#include <QDateTime>

#include <bitset>
#include <cstdio>

namespace {

// The nine values as they come back: a write's echo says what the
// controller took, a read (the line reads every write back) what it keeps.
struct Collected {
    ParRaws written{};
    ParRaws read{};
    std::bitset<par_count> have_written;
    std::bitset<par_count> have_read;
    std::optional<Measurement> measurement;
};

void collect(CliLine &link, Collected &c)
{
    Line &line = link.line();
    QObject::connect(&line, &Line::measured,
                     [&c](const Measurement &measurement) { c.measurement = measurement; });
    QObject::connect(&line, &Line::parameter_confirmed, [&c, &link](const ParConfirmation &p) {
        (p.read ? c.read : c.written)[size_t(p.index)] = p.raw;
        (p.read ? c.have_read : c.have_written).set(size_t(p.index));
        link.progress();
    });
}

ParamFile file_of(const Collected &c, int address)
{
    ParamFile f;
    f.saved = QDateTime::currentDateTime();
    f.address = address <= 127 ? address : -1; // what a parameter file can hold
    f.raws = c.read;
    if (c.measurement && c.measurement->has(202)) {
        f.protocol = c.measurement->protocol;
        f.software = c.measurement->software;
    }
    return f;
}

// "trim_ia..imax_timed" for each request group, with whether the controller
// confirmed all of it: what a write that stopped part-way has changed.
QString groups_text(const ParTable &table, const std::bitset<par_count> &confirmed)
{
    QStringList done;
    QStringList not_done;
    for (const ParGroup &g : par_groups(table)) {
        bool all = true;
        for (int i = g.first; i < g.first + g.count; ++i)
            all = all && confirmed[size_t(i)];
        const QString ids = g.count == 1
                                ? QString::fromUtf8(par_id(table, g.first))
                                : QStringLiteral("%1..%2").arg(
                                      QString::fromUtf8(par_id(table, g.first)),
                                      QString::fromUtf8(par_id(table, g.first + g.count - 1)));
        (all ? done : not_done) << ids;
    }
    return QStringLiteral("записаны: %1; не подтверждены: %2")
        .arg(done.isEmpty() ? QStringLiteral("ничего") : done.join(QStringLiteral(", ")),
             not_done.join(QStringLiteral(", ")));
}

} // namespace

int run_params_get(const CliArgs &args)
{
    CliLine link;
    if (const int code = link.open(args))
        return code;
    Collected c;
    collect(link, c);
    // The versions first, from the measurement block; then the three reads.
    link.line().ask_measurement();
    link.line().par_readall();
    if (!link.run([&] { return c.have_read.all(); }))
        return link.interrupted() ? exit_no_answer : link.no_answer();

    const ParamFile file = file_of(c, args.address);
    const ParTable &table = link.line().table();
    const QString path = args.words.value(2, QStringLiteral("-"));
    if (path == QLatin1String("-")) {
        const QByteArray json = param_file_json(table, file);
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        return std::fflush(stdout) == 0 ? exit_ok
                                        : fail(exit_file, QStringLiteral("stdout не записан"));
    }
    const QString error = save_param_file(path, table, file);
    return error.isEmpty() ? exit_ok : fail(exit_file, error);
}

int run_params_set(const CliArgs &args)
{
    // The file is checked whole before the port is even opened.
    ParTable table;
    par_table_init(table);
    const QString path = args.words[2];
    const QString shown_path = path == QLatin1String("-") ? QStringLiteral("stdin") : path;
    const ParamFileRead loaded = load_param_file(path, table);
    if (!loaded.file)
        return fail(exit_file,
                    QStringLiteral("файл %1 не принят: %2").arg(shown_path, loaded.error));
    const ParRaws &raws = loaded.file->raws;

    CliLine link;
    if (const int code = link.open(args))
        return code;
    Collected c;
    collect(link, c);
    link.line().par_writeall(raws);
    // Each echoed write is read back by the line; --verify waits for those reads.
    const auto done = [&] { return c.have_written.all() && (!args.verify || c.have_read.all()); };
    if (!link.run(done)) {
        const int code = link.interrupted() ? exit_no_answer : link.no_answer();
        fail(code, groups_text(table, c.have_written));
        return code;
    }
    if (!args.verify)
        return exit_ok;

    const QList<ParDifference> differences = compare_params(c.read, raws);
    for (const ParDifference &d : differences) {
        fail(exit_mismatch, QStringLiteral("проверка: %1 в контроллере %2, в файле %4 %3")
                                .arg(par_name(table, d.index))
                                .arg(d.device_raw)
                                .arg(d.file_raw)
                                .arg(shown_path));
    }
    return differences.isEmpty() ? exit_ok : exit_mismatch;
}
