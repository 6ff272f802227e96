// Reading a parameter file: every field is checked before anything is kept,
// so a caller gets all nine values or none.
#include "param_file.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>

namespace {

// The value as it stood in the file, for messages: 12.5, "12", true.
QString shown(const QJsonValue &v)
{
    const QByteArray a = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(a.mid(1, a.size() - 2));
}

// JSON has one kind of number, so 1e3 and 1000.0 are the whole number 1000
// (a script may write either); 12.5, "12", true and null are refused.
QString take_whole(const QJsonValue &v, int32_t low, int32_t high, int32_t &out)
{
    if (!v.isDouble())
        return QStringLiteral("%1 — не число").arg(shown(v));
    const double d = v.toDouble();
    if (d != std::floor(d))
        return QStringLiteral("%1 — не целое число").arg(shown(v));
    if (d < low || d > high)
        return QStringLiteral("%1 вне диапазона %2..%3").arg(shown(v)).arg(low).arg(high);
    out = int32_t(d);
    return QString();
}

QString take_header(const QJsonObject &o)
{
    if (!o.contains(QLatin1String("format")))
        return QStringLiteral("В файле нет поля format: это не файл параметров");
    if (o.value(QLatin1String("format")) != QJsonValue(param_file_format))
        return QStringLiteral("Неизвестный формат файла параметров: %1 (известен только %2)")
            .arg(shown(o.value(QLatin1String("format"))), QString::number(param_file_format));
    const QJsonValue device = o.value(QLatin1String("device"));
    if (device != QJsonValue(QString::fromUtf8(param_file_device)))
        return QStringLiteral("Файл не для %1: device %2")
            .arg(QString::fromUtf8(param_file_device),
                 device.isUndefined() ? QStringLiteral("не указан") : shown(device));
    return QString();
}

// saved, address and the versions may be left out; when present they must be right.
QString take_metadata(const QJsonObject &o, ParamFile &file)
{
    if (o.contains(QLatin1String("saved"))) {
        const QJsonValue v = o.value(QLatin1String("saved"));
        file.saved = QDateTime::fromString(v.toString(), Qt::ISODate);
        if (!v.isString() || !file.saved.isValid())
            return QStringLiteral("Поле saved: %1 — не дата и время ISO 8601").arg(shown(v));
    }
    if (o.contains(QLatin1String("address"))) {
        const QString why = take_whole(o.value(QLatin1String("address")), 0, 127, file.address);
        if (!why.isEmpty())
            return QStringLiteral("Поле address: ") + why;
    }
    for (auto [key, slot] : {std::pair{"protocol", &file.protocol}, {"software", &file.software}}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            continue;
        *slot = version_from_text(v.toString());
        if (!v.isString() || !*slot)
            return QStringLiteral("Поле %1: %2 — не версия вида 2.05")
                .arg(QLatin1String(key), shown(v));
    }
    return QString();
}

int index_of_id(const ParTable &table, const QString &id)
{
    for (int i = 0; i < par_count; ++i) {
        if (id == QLatin1String(par_id(table, i)))
            return i;
    }
    return -1;
}

// Exactly the nine identifiers, each once, in table order.
QString check_ids(const ParTable &table, const QJsonArray &list)
{
    QList<int> found;
    for (int k = 0; k < list.size(); ++k) {
        const QString place = QStringLiteral("на месте %1 списка parameters").arg(k + 1);
        const QJsonValue id = list[k].toObject().value(QLatin1String("id"));
        if (!list[k].isObject() || !id.isString())
            return QStringLiteral("Параметр %1 без поля id").arg(place);
        const int i = index_of_id(table, id.toString());
        if (i < 0)
            return QStringLiteral("Неизвестный параметр %1 %2").arg(shown(id), place) +
                   (k < par_count ? QStringLiteral(", здесь ожидался ") + par_name(table, k)
                                  : QString());
        if (found.contains(i))
            return QStringLiteral("Параметр %1 указан дважды").arg(par_name(table, i));
        found.append(i);
    }
    for (int i = 0; i < par_count; ++i) {
        if (!found.contains(i))
            return QStringLiteral("Нет параметра %1").arg(par_name(table, i));
    }
    for (int k = 0; k < par_count; ++k) {
        if (found[k] != k)
            return QStringLiteral("Параметры не в порядке таблицы: на месте %1 стоит %2, а "
                                  "должен стоять %3")
                .arg(k + 1)
                .arg(par_name(table, found[k]), par_name(table, k));
    }
    return QString();
}

QString take_raws(const ParTable &table, const QJsonArray &list, ParRaws &raws)
{
    for (int i = 0; i < par_count; ++i) {
        const QJsonObject p = list[i].toObject();
        const QString name = QStringLiteral("Параметр ") + par_name(table, i);
        if (!p.contains(QLatin1String("raw")))
            return name + QStringLiteral(": нет значения raw");
        const QString why = take_whole(p.value(QLatin1String("raw")), par_raw_low(table, i),
                                       par_raw_high(table, i), raws[size_t(i)]);
        if (!why.isEmpty())
            return name + QStringLiteral(": raw ") + why;
    }
    return QString();
}

QString parse_error_text(QJsonParseError::ParseError e)
{
    switch (e) {
    case QJsonParseError::MissingObject:
        return QStringLiteral("нет объекта");
    case QJsonParseError::UnterminatedObject:
    case QJsonParseError::UnterminatedArray:
    case QJsonParseError::UnterminatedString:
        return QStringLiteral("текст оборван");
    case QJsonParseError::MissingNameSeparator:
        return QStringLiteral("после имени поля нет двоеточия");
    case QJsonParseError::MissingValueSeparator:
        return QStringLiteral("между значениями нет запятой");
    case QJsonParseError::IllegalValue:
        return QStringLiteral("недопустимое значение");
    case QJsonParseError::TerminationByNumber:
        return QStringLiteral("текст кончается числом");
    case QJsonParseError::IllegalNumber:
        return QStringLiteral("недопустимое число");
    case QJsonParseError::IllegalEscapeSequence:
        return QStringLiteral("недопустимая последовательность с \\");
    case QJsonParseError::IllegalUTF8String:
        return QStringLiteral("текст не в кодировке UTF-8");
    case QJsonParseError::DeepNesting:
        return QStringLiteral("слишком глубокая вложенность");
    case QJsonParseError::DocumentTooLarge:
        return QStringLiteral("файл слишком велик");
    case QJsonParseError::GarbageAtEnd:
        return QStringLiteral("лишний текст после конца объекта");
    case QJsonParseError::NoError:
        break;
    }
    return QStringLiteral("ошибка разбора");
}

// A byte-order mark or zero bytes: a text editor saved the file as UTF-16.
bool looks_utf16(const QByteArray &bytes)
{
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF") ||
           (bytes.size() >= 2 && (bytes[0] == 0 || bytes[1] == 0));
}

// The name of a field that stands twice in one object, or empty. A JSON
// reader keeps one of the two silently, so a file edited by hand could
// write the value the editor did not mean. The text is valid JSON here.
QString duplicate_key(const QByteArray &json)
{
    QList<QSet<QString>> objects; // keys so far, per open object; arrays hold none
    QList<bool> is_object;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '{' || c == '[') {
            objects.append(QSet<QString>());
            is_object.append(c == '{');
        } else if (c == '}' || c == ']') {
            objects.removeLast();
            is_object.removeLast();
        } else if (c == '"') {
            const qsizetype start = i;
            for (++i; i < json.size() && json[i] != '"'; ++i) {
                if (json[i] == '\\')
                    ++i;
            }
            qsizetype after = i + 1;
            while (after < json.size() && QChar::isSpace(uchar(json[after])))
                ++after;
            if (after >= json.size() || json[after] != ':' || is_object.isEmpty() ||
                !is_object.last())
                continue;
            const QByteArray token = json.mid(start, i - start + 1);
            const QString key = QJsonDocument::fromJson('[' + token + ']').array().at(0).toString();
            if (objects.last().contains(key))
                return key;
            objects.last().insert(key);
        }
    }
    return QString();
}

} // namespace

ParamFileRead read_param_file(const ParTable &table, const QByteArray &json)
{
    if (looks_utf16(json))
        return {std::nullopt, QStringLiteral("Файл в кодировке UTF-16; сохраните его в UTF-8")};
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError)
        return {std::nullopt, QStringLiteral("Файл не в формате JSON: %1 (байт %2)")
                                  .arg(parse_error_text(parse.error))
                                  .arg(parse.offset)};
    if (const QString key = duplicate_key(json); !key.isEmpty())
        return {std::nullopt, QStringLiteral("Поле «%1» указано дважды в одном объекте").arg(key)};
    if (!doc.isObject())
        return {std::nullopt, QStringLiteral("В файле нет объекта JSON с параметрами")};
    const QJsonObject o = doc.object();
    ParamFile file;
    QString why = take_header(o);
    if (why.isEmpty())
        why = take_metadata(o, file);
    if (why.isEmpty() && !o.value(QLatin1String("parameters")).isArray())
        why = QStringLiteral("В файле нет списка parameters");
    const QJsonArray list = o.value(QLatin1String("parameters")).toArray();
    if (why.isEmpty())
        why = check_ids(table, list);
    if (why.isEmpty())
        why = take_raws(table, list, file.raws);
    if (!why.isEmpty())
        return {std::nullopt, why};
    return {file, QString()};
}
