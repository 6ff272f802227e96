#include "param_file.h"

#include "os_error.h"
#include "registers.h"
#include "safe_write.h"

#include <QFile>
#include <QFileInfo>
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

QByteArray parameter_line(const ParTable &table, int i, int32_t raw)
{
    const double value = par_value(i, raw);
    return "        {\"id\": " + json_string(QString::fromUtf8(par_id(table, i))) +
           ", \"caption\": " + json_string(par_caption(i)) +
           ", \"raw\": " + QByteArray::number(raw) +
           ", \"value\": " + QByteArray::number(value, 'g', QLocale::FloatingPointShortest) + "}";
}

QString saved_text(const QDateTime &t)
{
    return iso_local_time(t.toMSecsSinceEpoch(), false);
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
    QFile in;
    if (path == QLatin1String("-")) {
        if (!in.open(stdin, QIODevice::ReadOnly))
            return {std::nullopt, QStringLiteral("Не удалось читать стандартный ввод")};
    } else {
        // Checked before reading: a device or a pipe could give no end (or
        // never answer), and a huge file is no parameter file.
        const QFileInfo info(path);
        if (info.exists() && !info.isFile())
            return {std::nullopt, QStringLiteral("%1 — не обычный файл").arg(path)};
        if (info.size() > param_file_max_bytes)
            return {std::nullopt, QStringLiteral("Файл %1 больше %2 КиБ: это не файл параметров")
                                      .arg(path, QString::number(param_file_max_bytes / 1024))};
        in.setFileName(path);
        if (!in.open(QIODevice::ReadOnly))
            return {
                std::nullopt,
                QStringLiteral("Не удалось открыть файл %1: %2").arg(path, last_os_error_text())};
    }
    const QByteArray bytes = in.read(param_file_max_bytes + 1);
    if (bytes.size() > param_file_max_bytes)
        return {std::nullopt, QStringLiteral("Больше %1 КиБ: это не файл параметров")
                                  .arg(param_file_max_bytes / 1024)};
    return read_param_file(table, bytes);
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
    return QStringLiteral("%1 («%2»)").arg(QString::fromUtf8(par_id(table, i)), par_caption(i));
}
