// read: one measurement poll, as text or as one line of JSON.

#include "cli_link.h"
#include "commands.h"
#include "registers.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <optional>

namespace {

const char *const units[] = {"A", "A", "A", "Hz", "V", "V"}; // by measured_fields

// The value as the window shows it, so that JSON carries 1.2 and not 1.2000000000000002.
double shown(const Measurement &m, const RegisterField &field)
{
    const double scale = std::pow(10.0, field.digits);
    return std::round(field_value(m, field) * scale) / scale;
}

QByteArray as_json(const Measurement &m)
{
    QJsonObject o;
    for (const RegisterField &f : measured_fields)
        o.insert(QLatin1String(f.id), shown(m, f));
    o.insert(QLatin1String("protocol_version"), version_text(m.protocol));
    o.insert(QLatin1String("software_version"), version_text(m.software));
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray as_text(const Measurement &m)
{
    QString out;
    for (size_t i = 0; i < measured_fields.size(); ++i) {
        const RegisterField &f = measured_fields[i];
        out += QStringLiteral("%1 %2 %3\n")
                   .arg(QLatin1String(f.id) + ':', -17)
                   .arg(field_value(m, f), 0, 'f', f.digits)
                   .arg(QLatin1String(units[i]));
    }
    out += QStringLiteral("protocol_version: %1\n").arg(version_text(m.protocol));
    out += QStringLiteral("software_version: %1\n").arg(version_text(m.software));
    return out.toUtf8();
}

} // namespace

int run_read(const CliArgs &args)
{
    CliLink link;
    if (const int code = link.open(args))
        return code;
    std::optional<Measurement> got;
    QObject::connect(&link.master(), &Master::measured, [&](const Measurement &m) {
        if (m.complete())
            got = m;
    });
    // A short reply also takes the poll out of the ring: ask again then.
    const auto done = [&] {
        if (!got && link.idle())
            link.ask_measurement();
        return got.has_value();
    };
    link.ask_measurement();
    if (!link.run(done))
        return link.no_answer();
    const QByteArray out = args.json ? as_json(*got) : as_text(*got);
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return exit_ok;
}
