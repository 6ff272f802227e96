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

// What comes back from one address; the connections end with the owner.
void collect(CliLine &link, Collected &c, int address, QObject *owner)
{
    Line &line = link.line();
    QObject::connect(&line, &Line::measured, owner, [&c, address](const Measurement &m) {
        if (m.address == address)
            c.measurement = m;
    });
    QObject::connect(&line, &Line::parameter_confirmed, owner,
                     [&c, &link, address](const ParConfirmation &p) {
                         if (p.address != address)
                             return;
                         (p.read ? c.read : c.written)[size_t(p.index)] = p.raw;
                         (p.read ? c.have_read : c.have_written).set(size_t(p.index));
                         link.progress(address);
                     });
}

// The file of one address: {address} in the name stands for it.
QString file_for(const QString &pattern, int address)
{
    QString name = pattern;
    return name.replace(QStringLiteral("{address}"), QString::number(address));
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

int get_one(CliLine &link, int address, const QString &path)
{
    Collected c;
    QObject owner;
    collect(link, c, address, &owner);
    // The versions first, from the measurement block; then the three reads.
    link.line().ask_measurement(address);
    link.line().par_readall(address);
    if (!link.run([&] { return c.have_read.all(); }))
        return link.interrupted() ? exit_no_answer : link.no_answer({address});
    const ParamFile file = file_of(c, address);
    const ParTable &table = link.line().table();
    if (path == QLatin1String("-")) {
        const QByteArray json = param_file_json(table, file);
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        return std::fflush(stdout) == 0 ? exit_ok
                                        : fail(exit_file, QStringLiteral("stdout не записан"));
    }
    const QString error = save_param_file(path, table, file);
    return error.isEmpty() ? exit_ok : fail(exit_file, error);
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

int set_one(CliLine &link, const CliArgs &args, int address, const ParRaws &raws,
            const QString &shown_path)
{
    const ParTable &table = link.line().table();
    const QString who =
        args.addresses.size() > 1 ? QStringLiteral("адрес %1: ").arg(address) : QString();
    Collected c;
    QObject owner;
    collect(link, c, address, &owner);
    link.line().par_writeall(raws, address);
    // Each echoed write is read back by the line; --verify waits for those reads.
    const auto done = [&] { return c.have_written.all() && (!args.verify || c.have_read.all()); };
    if (!link.run(done)) {
        const int code = link.interrupted() ? exit_no_answer : link.no_answer({address});
        fail(code, who + groups_text(table, c.have_written));
        return code;
    }
    if (!args.verify)
        return exit_ok;

    const QList<ParDifference> differences = compare_params(c.read, raws);
    for (const ParDifference &d : differences) {
        fail(exit_mismatch, who + QStringLiteral("проверка: %1 в контроллере %2, в файле %3 %4")
                                      .arg(par_name(table, d.index), QString::number(d.device_raw),
                                           shown_path, QString::number(d.file_raw)));
    }
    return differences.isEmpty() ? exit_ok : exit_mismatch;
}

} // namespace

int run_params_get(const CliArgs &args)
{
    const QString path = args.words.value(2, QStringLiteral("-"));
    if (args.addresses.size() > 1 && !path.contains(QStringLiteral("{address}")))
        usage_error(QStringLiteral("params get с несколькими адресами: в имени файла нужен "
                                   "{address}, например ctrl-{address}.json"));
    CliLine link;
    if (const int code = link.open(args))
        return code;
    int result = exit_ok;
    for (int address : args.addresses) {
        const int code = get_one(link, address, file_for(path, address));
        if (code != exit_ok)
            result = code;
        if (link.interrupted())
            break;
    }
    return result;
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
    int result = exit_ok;
    // One controller after the other, each confirmed before the next.
    for (int address : args.addresses) {
        const int code = set_one(link, args, address, raws, shown_path);
        if (code != exit_ok)
            result = code;
        if (link.interrupted())
            break;
    }
    return result;
}
