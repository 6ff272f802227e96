// params get / params set: the nine parameters between the controller and a
// parameter file, through the same grouped requests as the window's buttons.

#include "cli_link.h"
#include "commands.h"
#include "param_file.h"

#include <QDateTime>

#include <bitset>
#include <cstdio>

namespace {

// The nine values as they come back, with the function that brought them:
// a write's echo says what the controller took, a read what it keeps.
struct Collected {
    ParRaws written{};
    ParRaws read{};
    std::bitset<par_count> have_written;
    std::bitset<par_count> have_read;
    std::optional<Measurement> measurement;
    int function = 0; // of the reply being decoded
};

void collect(CliLink &link, Collected &c)
{
    Master &m = link.master();
    QObject::connect(&m, &Master::exchanged, [&c](const Exchange &e) {
        c.function = e.reply.size() > 1 ? quint8(e.reply[1]) : 0;
    });
    QObject::connect(&m, &Master::measured,
                     [&c](const Measurement &measurement) { c.measurement = measurement; });
    QObject::connect(&m, &Master::parameter_confirmed, [&c, &link](const ParConfirmation &p) {
        const bool read = c.function == fn_par_read;
        (read ? c.read : c.written)[size_t(p.index)] = p.raw;
        (read ? c.have_read : c.have_written).set(size_t(p.index));
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

} // namespace

int run_params_get(const CliArgs &args)
{
    CliLink link;
    if (const int code = link.open(args))
        return code;
    Collected c;
    collect(link, c);
    // The versions first, from the measurement block; then the three reads.
    link.ask_measurement();
    link.master().par_readall();
    if (!link.run([&] { return c.have_read.all(); }))
        return link.no_answer();

    const ParamFile file = file_of(c, args.address);
    const ParTable &table = link.master().table();
    if (args.words.size() < 3) {
        const QByteArray json = param_file_json(table, file);
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        return exit_ok;
    }
    const QString error = save_param_file(args.words[2], table, file);
    return error.isEmpty() ? exit_ok : fail(exit_file, error);
}

int run_params_set(const CliArgs &args)
{
    // The file is checked whole before the port is even opened.
    ParTable table;
    par_table_init(table);
    const QString path = args.words[2];
    const ParamFileRead loaded = load_param_file(path, table);
    if (!loaded.file)
        return fail(exit_file, QStringLiteral("файл %1 не принят: %2").arg(path, loaded.error));
    const ParRaws &raws = loaded.file->raws;

    CliLink link;
    if (const int code = link.open(args))
        return code;
    Collected c;
    collect(link, c);
    link.master().par_writeall(raws);
    if (args.verify)
        link.master().par_readall();
    const auto done = [&] { return c.have_written.all() && (!args.verify || c.have_read.all()); };
    if (!link.run(done))
        return link.no_answer();
    if (!args.verify)
        return exit_ok;

    const QList<ParDifference> differences = compare_params(c.read, raws);
    for (const ParDifference &d : differences) {
        fail(exit_file, QStringLiteral("проверка: %1 в контроллере %2, в файле %4 %3")
                            .arg(par_name(table, d.index))
                            .arg(d.device_raw)
                            .arg(d.file_raw)
                            .arg(path));
    }
    return differences.isEmpty() ? exit_ok : exit_file;
}
