#include "param_file.h"

#include "registers.h"
#include "safe_write.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

const char *const param_file_device = "RZT-604Д";

namespace {

// A JSON string literal, quotes and escapes included.
QByteArray json_string(const QString &s)
{
    const QByteArray a = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return a.mid(1, a.size() - 2); // strip the brackets
}

// raw × scale to the three decimals the window shows. Rounding gives the
// double nearest to that decimal, which prints as 0.3 rather than 0.30000000000000004.
double shown_value(const ParTable &table, int i, int32_t raw)
{
    return std::round(raw * par_scale(table, i) * 1000) / 1000;
}

QByteArray parameter_line(const ParTable &table, int i, int32_t raw)
{
    const double value = shown_value(table, i, raw);
    return "        {\"id\": " + json_string(QString::fromUtf8(par_id(table, i))) +
           ", \"caption\": " + json_string(QString::fromUtf8(par_caption(i))) +
           ", \"raw\": " + QByteArray::number(raw) +
           ", \"value\": " + QByteArray::number(value, 'g', QLocale::FloatingPointShortest) + "}";
}

QString saved_text(const QDateTime &t)
{
    // Local time with its offset, to the second: "2025-03-14T09:26:53+03:00".
    const QDateTime local = t.toLocalTime();
    const QDateTime whole = local.addMSecs(-local.time().msec());
    return whole.toOffsetFromUtc(whole.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

std::optional<Version> version_from_text(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return std::nullopt;
    Version v;
    bool ok_major = false;
    bool ok_minor = false;
    v.major = parts[0].toInt(&ok_major);
    v.minor = parts[1].toInt(&ok_minor);
    // Each half is one byte of the version register; toInt alone would take "+2" or " 2".
    const auto plain = [](const QString &s) {
        return !s.isEmpty() && s.size() <= 3 &&
               std::all_of(s.begin(), s.end(), [](QChar c) { return c.isDigit(); });
    };
    if (!ok_major || !ok_minor || !plain(parts[0]) || !plain(parts[1]) || v.major > 255 ||
        v.minor > 255)
        return std::nullopt;
    return v;
}

QByteArray param_file_json(const ParTable &table, const ParamFile &file)
{
    QByteArray out = "{\n    \"format\": " + QByteArray::number(param_file_format) + ",\n";
    out += "    \"device\": " + json_string(QString::fromUtf8(param_file_device)) + ",\n";
    if (file.saved.isValid())
        out += "    \"saved\": " + json_string(saved_text(file.saved)) + ",\n";
    if (file.address >= 0)
        out += "    \"address\": " + QByteArray::number(file.address) + ",\n";
    if (file.protocol)
        out += "    \"protocol\": " + json_string(version_text(*file.protocol)) + ",\n";
    if (file.software)
        out += "    \"software\": " + json_string(version_text(*file.software)) + ",\n";
    out += "    \"parameters\": [\n";
    for (int i = 0; i < par_count; ++i) {
        out += parameter_line(table, i, file.raws[size_t(i)]);
        out += i + 1 < par_count ? ",\n" : "\n";
    }
    out += "    ]\n}\n";
    return out;
}

QString save_atomically(const QString &path, const QByteArray &bytes)
{
    QString why;
    if (replace_file(path, bytes, &why))
        return QString();
    return QStringLiteral("Не удалось записать файл %1: %2").arg(path, why);
}

QString save_param_file(const QString &path, const ParTable &table, const ParamFile &file)
{
    return save_atomically(path, param_file_json(table, file));
}

ParamFileRead load_param_file(const QString &path, const ParTable &table)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return {std::nullopt,
                QStringLiteral("Не удалось открыть файл %1: %2").arg(path, in.errorString())};
    return read_param_file(table, in.readAll());
}

QList<ParDifference> compare_params(const ParRaws &device, const ParRaws &file)
{
    QList<ParDifference> out;
    for (int i = 0; i < par_count; ++i) {
        if (device[size_t(i)] != file[size_t(i)])
            out.append({i, device[size_t(i)], file[size_t(i)]});
    }
    return out;
}

QString par_name(const ParTable &table, int i)
{
    return QStringLiteral("%1 («%2»)")
        .arg(QString::fromUtf8(par_id(table, i)), QString::fromUtf8(par_caption(i)));
}
