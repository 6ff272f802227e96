#pragma once
// The journal of setting changes: one per user, append-only, a line of JSON
// a record. Every write of a parameter leaves two: its intent, appended and
// on disk before the write is queued, and its outcome once the controller's
// read-back (or the exception, the cancel, the silence) has told it. An
// outcome names its intent's id.
//
//   {"kind":"intent","id":"…","time":"2026-12-08T14:50:01.123+03:00",
//    "user":"ivan","host":"laptop","program":"rzt604-modbus 0.3.0",
//    "port":"COM5","device":"/dev/ttyUSB0","address":1,"protocol":"2.05",
//    "software":"1.12","parameter":"timer_s","caption":"Таймер, с",
//    "before":"12.5","before_raw":125,"written":"25","written_raw":250}
//   {"kind":"outcome","id":"…","time":"…","outcome":"not_taken",
//    "kept":"12.5","kept_raw":125}
//
// Appends from several programs at once are kept whole by a lock file
// beside the journal; past journal_rotate_bytes the journal goes on in a new
// file, the full one keeping the day in its name.

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

constexpr qint64 journal_rotate_bytes = 50LL * 1024 * 1024;

// The journal of the program whose тп.ini is at config_path: beside a
// portable тп.ini, otherwise in the user's data folder.
QString journal_path_for(const QString &config_path);

// One write of one parameter: its intent with its outcome, once known.
struct JournalEntry {
    QJsonObject intent;
    QJsonObject outcome; // empty while the write awaits it
    QString file;        // where the intent was read from
};

// A record as it is appended joins the entries: an intent as a new entry,
// an outcome to the intent it answers.
void journal_take(QList<JournalEntry> &entries, const QJsonObject &record);

// A column of the journal as people read it; the window's table, the
// command line's table, the CSV export and the commissioning sheet all
// take their columns from here.
struct JournalColumn {
    const char *key;
    const char *caption; // UTF-8
    QString (*text)(const JournalEntry &);
};
extern const std::array<JournalColumn, 8> journal_columns;
// "принято", "не принято (хранит 12.5)", "отказ (код 3)", "ожидается", …
QString journal_outcome_text(const JournalEntry &e);
QDateTime journal_time(const JournalEntry &e);
int journal_address(const JournalEntry &e);
// The entry as one JSON object: the intent's keys, then the outcome's
// under "outcome", "outcome_time", "kept", ….
QJsonObject journal_entry_json(const JournalEntry &e);

// The entries as a table of the columns above, a line each, the captions
// first; for a terminal.
QString journal_table(const QList<JournalEntry> &entries);

// The entries as CSV of the same columns: "," between fields and "." in
// numbers, or the separators given; for a spreadsheet (spreadsheet_csv_layout
// of records) after a byte order mark, so that it reads UTF-8.
QByteArray journal_csv(const QList<JournalEntry> &entries, char separator = ',', char decimal = '.',
                       bool byte_order_mark = false);

struct JournalRead {
    QList<JournalEntry> entries; // oldest first
    // "journal.jsonl, строка 17: повреждена, пропущена": lines that could
    // not be read; the rest are read all the same.
    QStringList notes;
};

// Reads the journal at path with the files it was continued from.
JournalRead read_journal(const QString &path);

class Journal : public QObject {
    Q_OBJECT

public:
    explicit Journal(QString path, QObject *parent = nullptr);

    const QString &path() const { return m_path; }
    // Why nothing can be appended (the folder cannot be made or written),
    // or empty.
    QString check() const;
    // Appends the record whole and has it on disk before returning; empty,
    // or why it could not (in Russian: a full disk, no permission).
    QString append(const QJsonObject &record);

signals:
    void appended(const QJsonObject &record);

private:
    QString rotate_if_full(qint64 adding);

    QString m_path;
};
