// read: one measurement poll, as text or as one line of JSON.

#include "cli_line.h"
#include "commands.h"
#include "registers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <cstdio>
#include <optional>

QJsonObject measurement_json(const Measurement &m)
{
    QJsonObject o;
    for (const MeasuredField &f : measured_fields)
        o.insert(QLatin1String(f.id), field_shown(m, f));
    o.insert(QLatin1String("protocol_version"), version_text(m.protocol));
    o.insert(QLatin1String("software_version"), version_text(m.software));
    return o;
}

namespace {

QByteArray as_text(const Measurement &m)
{
    QString out;
    for (const MeasuredField &f : measured_fields) {
        out += QStringLiteral("%1 %2 %3\n")
                   .arg(QLatin1String(f.id) + ':', -17)
                   .arg(field_value(m, f), 0, 'f', f.digits)
                   .arg(QString::fromUtf8(f.unit));
    }
    out += QStringLiteral("protocol_version: %1\n").arg(version_text(m.protocol));
    out += QStringLiteral("software_version: %1\n").arg(version_text(m.software));
    return out.toUtf8();
}

} // namespace

int run_read(const CliArgs &args)
{
    CliLine cli;
    if (const int code = cli.open(args))
        return code;
    Line &line = cli.line();
    QMap<int, Measurement> got;
    for (int a : args.addresses) {
        QObject::connect(&line.controller(a), &ControllerModel::measured,
                         [&got, &cli, a](const Measurement &m) {
                             got[a] = m;
                             cli.progress(a);
                         });
        line.ask_measurement(a);
    }
    const bool all = cli.run([&] { return got.size() == args.addresses.size(); });
    const bool several = args.addresses.size() > 1;
    QByteArray out;
    for (const Measurement &m : std::as_const(got)) {
        QJsonObject o = measurement_json(m);
        if (several)
            o.insert(QLatin1String("address"), m.address);
        if (args.json)
            out += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
        else
            out +=
                (several ? QByteArray("address:          ") + QByteArray::number(m.address) + '\n'
                         : QByteArray()) +
                as_text(m) + (several ? "\n" : "");
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    if (all)
        return exit_ok;
    QList<int> silent;
    for (int a : args.addresses) {
        if (!got.contains(a))
            silent << a;
    }
    return cli.interrupted() ? exit_no_answer : cli.no_answer(silent);
}
