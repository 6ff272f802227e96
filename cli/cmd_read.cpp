// read: one measurement poll, as text or as one line of JSON.

#include "cli_line.h"
#include "commands.h"
#include "registers.h"

#include <QJsonDocument>
#include <QJsonObject>

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
    CliLine link;
    if (const int code = link.open(args))
        return code;
    Line &line = link.line();
    std::optional<Measurement> got;
    QObject::connect(&line, &Line::measured, [&](const Measurement &m) {
        if (m.complete())
            got = m;
    });
    // A short reply also takes the poll out of the ring: ask again then.
    const auto done = [&] {
        if (!got && line.ring().empty())
            line.ask_measurement();
        return got.has_value();
    };
    line.ask_measurement();
    if (!link.run(done))
        return link.interrupted() ? exit_no_answer : link.no_answer();
    const QByteArray out =
        args.json ? QJsonDocument(measurement_json(*got)).toJson(QJsonDocument::Compact) + '\n'
                  : as_text(*got);
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return exit_ok;
}
