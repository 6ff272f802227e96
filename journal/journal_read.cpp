// Reading the journal back: its files in order, each line a record, the
// outcomes joined to their intents, and every line that cannot be read
// named and skipped.

#include "journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>

namespace {

// Journals are never read past this: a year of heavy use is a few MB.
constexpr qint64 read_limit_bytes = 8 * journal_rotate_bytes;

QString text_of(const JournalEntry &e, const char *key)
{
    const QJsonValue v = e.intent.contains(QLatin1String(key))
                             ? e.intent.value(QLatin1String(key))
                             : e.outcome.value(QLatin1String(key));
    return v.isDouble() ? QString::number(v.toDouble()) : v.toString();
}

QString time_text(const JournalEntry &e)
{
    const QDateTime t = journal_time(e);
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : text_of(e, "time");
}

QString address_text(const JournalEntry &e)
{
    return QString::number(journal_address(e));
}

QString parameter_text(const JournalEntry &e)
{
    return text_of(e, "caption");
}

QString value_text(const JournalEntry &e, const char *key)
{
    const QString v = text_of(e, key);
    return v.isEmpty() ? QStringLiteral("неизвестно") : v;
}

QString before_text(const JournalEntry &e)
{
    return value_text(e, "before");
}

QString written_text(const JournalEntry &e)
{
    return value_text(e, "written");
}

QString kept_text(const JournalEntry &e)
{
    const QString v = e.outcome.value(QLatin1String("kept")).toString();
    return v.isEmpty() ? QStringLiteral("—") : v;
}

QString user_text(const JournalEntry &e)
{
    return text_of(e, "user");
}

// The journal's files, oldest first: those it was continued from (named by
// their day), then the journal itself.
QStringList journal_files(const QString &path)
{
    const QFileInfo info(path);
    QStringList files;
    const QDir dir = info.absoluteDir();
    for (const QString &name :
         dir.entryList({QStringLiteral("journal-*.jsonl")}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    if (info.exists())
        files << path;
    return files;
}

void read_file(const QString &path, JournalRead &out, QHash<QString, qsizetype> &by_id,
               qint64 &budget)
{
    QFile f(path);
    const QString name = QFileInfo(path).fileName();
    if (!f.open(QIODevice::ReadOnly)) {
        out.notes << QStringLiteral("%1: не читается: %2").arg(name, f.errorString());
        return;
    }
    int number = 0;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine(1024 * 1024);
        ++number;
        budget -= line.size();
        if (budget < 0) {
            out.notes << QStringLiteral("%1: дальше строки %2 не прочитан (журналы больше %3 МБ)")
                             .arg(name)
                             .arg(number)
                             .arg(read_limit_bytes / (1024 * 1024));
            return;
        }
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        const QJsonObject o = doc.object();
        const QString id = o.value(QLatin1String("id")).toString();
        const QString kind = o.value(QLatin1String("kind")).toString();
        const bool whole = line.endsWith('\n') && doc.isObject() && !id.isEmpty();
        if (whole && kind == QLatin1String("intent") && !by_id.contains(id)) {
            by_id.insert(id, out.entries.size());
            out.entries.append({o, {}, path});
        } else if (whole && kind == QLatin1String("outcome") && by_id.contains(id)) {
            out.entries[by_id.value(id)].outcome = o;
        } else if (!line.trimmed().isEmpty()) {
            out.notes
                << QStringLiteral("%1, строка %2: повреждена, пропущена").arg(name).arg(number);
        }
    }
}

} // namespace

const std::array<JournalColumn, 8> journal_columns = {{
    {"time", "Время", time_text},
    {"user", "Пользователь", user_text},
    {"address", "Адрес", address_text},
    {"parameter", "Параметр", parameter_text},
    {"before", "Было", before_text},
    {"written", "Записано", written_text},
    {"kept", "Хранит", kept_text},
    {"outcome", "Итог", journal_outcome_text},
}};

void journal_take(QList<JournalEntry> &entries, const QJsonObject &record)
{
    const QString id = record.value(QLatin1String("id")).toString();
    if (record.value(QLatin1String("kind")).toString() == QLatin1String("intent")) {
        entries.append({record, {}, {}});
        return;
    }
    for (JournalEntry &e : entries) {
        if (e.intent.value(QLatin1String("id")).toString() == id)
            e.outcome = record;
    }
}

QString journal_outcome_text(const JournalEntry &e)
{
    const QString outcome = e.outcome.value(QLatin1String("outcome")).toString();
    if (outcome.isEmpty())
        return QStringLiteral("ожидается");
    if (outcome == QLatin1String("taken"))
        return QStringLiteral("принято");
    if (outcome == QLatin1String("not_taken"))
        return QStringLiteral("не принято");
    if (outcome == QLatin1String("refused"))
        return QStringLiteral("отказ контроллера (код %1)")
            .arg(e.outcome.value(QLatin1String("exception")).toInt());
    if (outcome == QLatin1String("cancelled"))
        return QStringLiteral("отменено: ") + e.outcome.value(QLatin1String("why")).toString();
    if (outcome == QLatin1String("no_answer"))
        return QStringLiteral("нет ответа");
    return outcome;
}

QString journal_table(const QList<JournalEntry> &entries)
{
    std::array<qsizetype, journal_columns.size()> width{};
    QList<QStringList> rows;
    QStringList head;
    for (const JournalColumn &c : journal_columns)
        head << QString::fromUtf8(c.caption);
    rows << head;
    for (const JournalEntry &e : entries) {
        QStringList row;
        for (const JournalColumn &c : journal_columns)
            row << c.text(e);
        rows << row;
    }
    for (const QStringList &row : std::as_const(rows)) {
        for (size_t k = 0; k < width.size(); ++k)
            width[k] = std::max(width[k], row[qsizetype(k)].size());
    }
    QString out;
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (size_t k = 0; k < width.size(); ++k)
            line += row[qsizetype(k)].leftJustified(width[k] + 2);
        out += line.trimmed() + u'\n';
    }
    return out;
}

QByteArray journal_csv(const QList<JournalEntry> &entries, char separator, char decimal,
                       bool byte_order_mark)
{
    static const QRegularExpression number(QStringLiteral("^-?\\d+\\.\\d+$"));
    const auto field = [&](QString text) {
        if (decimal != '.' && number.match(text).hasMatch())
            text.replace(u'.', QLatin1Char(decimal));
        if (text.contains(QLatin1Char(separator)) || text.contains(u'"') || text.contains(u'\n'))
            text = u'"' + text.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
        return text.toUtf8();
    };
    QByteArray out = byte_order_mark ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    QList<QByteArray> head;
    for (const JournalColumn &c : journal_columns)
        head << field(QString::fromUtf8(c.caption));
    out += head.join(separator) + '\n';
    for (const JournalEntry &e : entries) {
        QList<QByteArray> row;
        for (const JournalColumn &c : journal_columns)
            row << field(c.text(e));
        out += row.join(separator) + '\n';
    }
    return out;
}

QDateTime journal_time(const JournalEntry &e)
{
    return QDateTime::fromString(e.intent.value(QLatin1String("time")).toString(),
                                 Qt::ISODateWithMs);
}

int journal_address(const JournalEntry &e)
{
    return e.intent.value(QLatin1String("address")).toInt(-1);
}

QJsonObject journal_entry_json(const JournalEntry &e)
{
    QJsonObject o = e.intent;
    o.remove(QLatin1String("kind"));
    for (auto it = e.outcome.begin(); it != e.outcome.end(); ++it) {
        if (it.key() == QLatin1String("time"))
            o.insert(QLatin1String("outcome_time"), it.value());
        else if (it.key() != QLatin1String("kind") && it.key() != QLatin1String("id"))
            o.insert(it.key(), it.value());
    }
    if (!o.contains(QLatin1String("outcome")))
        o.insert(QLatin1String("outcome"), QStringLiteral("awaiting"));
    return o;
}

JournalRead read_journal(const QString &path)
{
    JournalRead out;
    QHash<QString, qsizetype> by_id;
    qint64 budget = read_limit_bytes;
    for (const QString &file : journal_files(path))
        read_file(file, out, by_id, budget);
    std::stable_sort(out.entries.begin(), out.entries.end(),
                     [](const JournalEntry &a, const JournalEntry &b) {
                         return journal_time(a) < journal_time(b);
                     });
    return out;
}
