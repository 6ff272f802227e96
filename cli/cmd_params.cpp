// params get / set / compare: the nine parameters between the controller and
// a parameter file, through the same grouped requests as the window's
// buttons. What the controller holds and took comes from its model, as the
// window has it: every write is read back, and a comparison reads afresh.

#include "cli_line.h"
#include "commands.h"
#include "param_file.h"

#include <QDateTime>

#include <cstdio>
#include <functional>

namespace {

// Runs the line until the operation that start() queues ends on the model.
std::optional<OperationEnd> run_operation(CliLine &cli, ControllerModel &model, OperationKind kind,
                                          const std::function<bool()> &start)
{
    std::optional<OperationEnd> ended;
    QObject owner;
    QObject::connect(&model, &ControllerModel::operation_ended, &owner, [&](const OperationEnd &e) {
        if (e.kind == kind)
            ended = e;
    });
    QObject::connect(&model, &ControllerModel::parameter_changed, &owner,
                     [&] { cli.progress(model.address()); });
    if (!start())
        return std::nullopt;
    cli.run([&] { return ended.has_value(); });
    return ended;
}

// The run ended before the controller had answered: interrupted, or silent.
int stopped(CliLine &cli, int address)
{
    return cli.interrupted() ? exit_no_answer : cli.no_answer({address});
}

QString who(const CliArgs &args, int address)
{
    return args.addresses.size() > 1 ? QStringLiteral("адрес %1: ").arg(address) : QString();
}

// "12.5 с": a value as files and scripts write it, with its unit.
QString value_text(int i, int32_t raw)
{
    const QString unit = par_unit(i);
    return QString::number(par_value(i, raw)) + (unit.isEmpty() ? QString() : u' ' + unit);
}

QString ids(const ParTable &table, const QList<int> &indices)
{
    QStringList out;
    for (int i : indices)
        out << QString::fromUtf8(par_id(table, i));
    return out.join(QStringLiteral(", "));
}

// Parameters an operation got no answer for, or the controller refused:
// said on stderr; exit_no_answer, or exit_ok when there were none.
int unanswered(const ParTable &table, const QString &prefix, const OperationEnd &end)
{
    int code = exit_ok;
    if (!end.refused.isEmpty())
        code = fail(exit_no_answer, prefix + QStringLiteral("контроллер отказал (исключение, код "
                                                            "%1): %2")
                                                 .arg(end.exception_code)
                                                 .arg(ids(table, end.refused)));
    if (!end.no_answer.isEmpty())
        code = fail(exit_no_answer,
                    prefix + QStringLiteral("нет ответа: %1").arg(ids(table, end.no_answer)));
    return code;
}

// The file of one address: {address} in the name stands for it.
QString file_for(const QString &pattern, int address)
{
    QString name = pattern;
    return name.replace(QStringLiteral("{address}"), QString::number(address));
}

ParamFile file_of(const ControllerModel &model)
{
    ParamFile f;
    f.saved = QDateTime::currentDateTime();
    f.address = model.address() <= 127 ? model.address() : -1; // what a parameter file can hold
    for (int i = 0; i < par_count; ++i)
        f.raws[size_t(i)] = model.held(i).value_or(0);
    if (const auto versions = model.versions()) {
        f.protocol = versions->first;
        f.software = versions->second;
    }
    return f;
}

// The versions first, from the measurement block; then the three reads:
// what the controller holds, in its model. exit_ok, or why not.
int read_controller(CliLine &cli, const CliArgs &args, int address)
{
    Line &line = cli.line();
    line.ask_measurement(address);
    const auto end = run_operation(cli, line.controller(address), OperationKind::read_all,
                                   [&] { return line.read_all(address); });
    if (!end)
        return stopped(cli, address);
    return unanswered(line.table(), who(args, address), *end);
}

int get_one(CliLine &cli, const CliArgs &args, int address, const QString &path)
{
    Line &line = cli.line();
    if (const int code = read_controller(cli, args, address))
        return code;
    const ParamFile file = file_of(line.controller(address));
    if (path == QLatin1String("-")) {
        const QByteArray json = param_file_json(line.table(), file);
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        return std::fflush(stdout) == 0 ? exit_ok
                                        : fail(exit_file, QStringLiteral("stdout не записан"));
    }
    const QString error = save_param_file(path, line.table(), file);
    return error.isEmpty() ? exit_ok : fail(exit_file, error);
}

// "trim_ia..imax_timed" for each request group, with whether the controller
// took all of it: what a write that stopped part-way has changed.
QString groups_text(const ParTable &table, const ControllerModel &model)
{
    QStringList done;
    QStringList not_done;
    for (const ParGroup &g : par_groups(table)) {
        bool all = true;
        for (int i = g.first; i < g.first + g.count; ++i)
            all = all && model.par(i).outcome == WriteOutcome::taken;
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

// A comparison of what the controller holds, read afresh, with the file:
// each difference on stdout; exit_mismatch when there are any.
int compare_one(CliLine &cli, const CliArgs &args, int address, const ParRaws &raws,
                const QString &shown_path)
{
    Line &line = cli.line();
    ControllerModel &model = line.controller(address);
    const auto end = run_operation(cli, model, OperationKind::compare,
                                   [&] { return line.compare(raws, address); });
    if (!end)
        return stopped(cli, address);
    if (const int code = unanswered(line.table(), who(args, address), *end))
        return code;
    QList<int> differ = end->differ;
    std::sort(differ.begin(), differ.end());
    for (int i : differ) {
        const QString text =
            who(args, address) + QStringLiteral("%1: в контроллере %2, в %3 %4\n")
                                     .arg(par_name(line.table(), i),
                                          value_text(i, model.held(i).value_or(0)), shown_path,
                                          value_text(i, raws[size_t(i)]));
        std::fputs(qUtf8Printable(text), stdout);
    }
    std::fflush(stdout);
    return differ.isEmpty() ? exit_ok : exit_mismatch;
}

int set_one(CliLine &cli, const CliArgs &args, int address, const ParRaws &raws,
            const QString &shown_path)
{
    Line &line = cli.line();
    const ParTable &table = line.table();
    ControllerModel &model = line.controller(address);
    // What it holds and its versions first: the journal keeps what each
    // write replaced, and on which controller.
    if (const int code = read_controller(cli, args, address))
        return code;
    // Each echoed write is read back by the line; the end says what the
    // controller's memory kept.
    QString refused;
    const auto end = run_operation(cli, model, OperationKind::write_all, [&] {
        refused = line.write_all(raws, address);
        return refused.isEmpty();
    });
    if (!refused.isEmpty())
        return fail(exit_file, who(args, address) + refused);
    if (!end) {
        const int code = stopped(cli, address);
        fail(code, who(args, address) + groups_text(table, model));
        return code;
    }
    int code = unanswered(table, who(args, address), *end);
    for (int i : end->not_taken) {
        code = fail(exit_mismatch,
                    who(args, address) +
                        QStringLiteral("контроллер не принял %1: записано %2, хранит %3")
                            .arg(par_name(table, i), value_text(i, raws[size_t(i)]),
                                 value_text(i, model.held(i).value_or(0))));
    }
    if (!end->cancelled.isEmpty())
        code = fail(exit_no_answer,
                    who(args, address) + QStringLiteral("запись отменена (%1): %2")
                                             .arg(end->why, ids(table, end->cancelled)));
    if (code != exit_ok || !args.verify)
        return code;
    // The whole file against a fresh read, the parameters it left as they
    // were included.
    return compare_one(cli, args, address, raws, shown_path);
}

std::optional<ParRaws> load_raws(const QString &path, const QString &shown_path)
{
    // The file is checked whole before the port is even opened.
    ParTable table;
    par_table_init(table);
    const ParamFileRead loaded = load_param_file(path, table);
    if (!loaded.file) {
        fail(exit_file, QStringLiteral("файл %1 не принят: %2").arg(shown_path, loaded.error));
        return std::nullopt;
    }
    return loaded.file->raws;
}

QString shown_name(const QString &path)
{
    return path == QLatin1String("-") ? QStringLiteral("stdin") : path;
}

// One controller after the other, each finished before the next.
int for_each_address(CliLine &cli, const CliArgs &args, const std::function<int(int)> &one)
{
    int result = exit_ok;
    for (int address : args.addresses) {
        const int code = one(address);
        if (code != exit_ok)
            result = code;
        if (cli.interrupted())
            break;
    }
    return result;
}

} // namespace

int run_params_get(const CliArgs &args)
{
    const QString path = args.words.value(2, QStringLiteral("-"));
    if (args.addresses.size() > 1 && !path.contains(QStringLiteral("{address}")))
        usage_error(QStringLiteral("params get с несколькими адресами: в имени файла нужен "
                                   "{address}, например ctrl-{address}.json"));
    CliLine cli;
    if (const int code = cli.open(args))
        return code;
    return for_each_address(cli, args,
                            [&](int a) { return get_one(cli, args, a, file_for(path, a)); });
}

int run_params_set(const CliArgs &args)
{
    const QString shown_path = shown_name(args.words[2]);
    const auto raws = load_raws(args.words[2], shown_path);
    if (!raws)
        return exit_file;
    CliLine cli;
    if (const int code = cli.open(args))
        return code;
    // What this run changed, as the journal has it and in its words.
    QList<JournalEntry> changed;
    QObject::connect(&cli.line().journal(), &Journal::appended,
                     [&](const QJsonObject &r) { journal_take(changed, r); });
    const int code = for_each_address(
        cli, args, [&](int a) { return set_one(cli, args, a, *raws, shown_path); });
    const QByteArray table = changed.isEmpty() ? QByteArray() : journal_table(changed).toUtf8();
    std::fwrite(table.constData(), 1, size_t(table.size()), stdout);
    std::fflush(stdout);
    return code;
}

int run_params_compare(const CliArgs &args)
{
    const QString shown_path = shown_name(args.words[2]);
    const auto raws = load_raws(args.words[2], shown_path);
    if (!raws)
        return exit_file;
    CliLine cli;
    if (const int code = cli.open(args))
        return code;
    return for_each_address(cli, args,
                            [&](int a) { return compare_one(cli, args, a, *raws, shown_path); });
}
