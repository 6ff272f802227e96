// The journal of setting changes: what it promises the site that reads it
// after an incident. An intent is on disk before its frame leaves; a write
// that cannot be recorded is not made; several programs append whole lines;
// a damaged line costs only itself; a full journal goes on in a new file.
#include "event_wait.h"
#include "frames.h"
#include "line_rig.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Rig = LineRig;

QByteArray record_line(const QString &id, const char *kind)
{
    return "{\"kind\":\"" + QByteArray(kind) + "\",\"id\":\"" + id.toUtf8() +
           "\",\"time\":\"2026-12-08T10:00:00.000+00:00\",\"address\":1}\n";
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    void an_intent_is_on_disk_before_its_frame_leaves()
    {
        Rig r;
        r.line->read_all();
        LineDriver::ticks(*r.line, 4);
        // What the journal held when the write frame was handed to the port.
        std::optional<JournalRead> at_write;
        r.port->responder = [&](const QByteArray &frame) {
            if (frame[1] == char(0x65))
                at_write = read_journal(r.journal());
            return r.controller(frame);
        };
        QCOMPARE(r.line->write_one(4, QStringLiteral("30")), Queued::yes);
        LineDriver::ticks(*r.line, 4);
        QVERIFY(at_write);
        QCOMPARE(at_write->entries.size(), 1);
        const JournalEntry &e = at_write->entries[0];
        QCOMPARE(e.intent["parameter"].toString(), QStringLiteral("timer_s"));
        QCOMPARE(e.intent["before_raw"].toInt(), 125);
        QCOMPARE(e.intent["written_raw"].toInt(), 300);
        QVERIFY(e.outcome.isEmpty());
        const JournalRead read = read_journal(r.journal());
        QCOMPARE(journal_outcome_text(read.entries[0]), QStringLiteral("принято"));
        QCOMPARE(read.entries[0].outcome["kept_raw"].toInt(), 300);
    }

    // A journal that cannot be written stops the write: nothing is sent,
    // and why is said in the operator's words.
    void a_full_disk_refuses_the_write()
    {
#ifndef Q_OS_LINUX
        QSKIP("needs /dev/full");
#endif
        Rig r;
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), r.journal()));
        QSignalSpy failed(r.line.get(), &Line::journal_failed);
        QCOMPARE(r.line->write_one(4, QStringLiteral("30")), Queued::not_recorded);
        ParTexts texts;
        texts.fill(QStringLiteral("1"));
        QVERIFY(!r.line->write_all(texts).not_recorded.isEmpty());
        LineDriver::ticks(*r.line, 6);
        for (const QByteArray &frame : std::as_const(r.port->written))
            QVERIFY2(frame[1] != char(0x65), frame.toHex(' ').constData());
        QCOMPARE(r.line->pending_writes(), 0);
        QVERIFY(!failed.isEmpty());
        const QString why = failed.first().first().toString();
        QVERIFY2(why.contains(QStringLiteral("нет места на диске")), qPrintable(why));
    }

    // A line cut by a power loss, or edited by hand, is named and skipped;
    // the rest is read.
    void damaged_lines_are_skipped_with_a_note()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.jsonl"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(record_line(QStringLiteral("a"), "intent"));
        f.write("{\"kind\":\"intent\",\"id\n");
        f.write(record_line(QStringLiteral("a"), "outcome"));
        f.write(record_line(QStringLiteral("b"), "intent").chopped(9)); // no newline: cut
        f.close();
        const JournalRead read = read_journal(path);
        QCOMPARE(read.entries.size(), 1);
        QVERIFY(!read.entries[0].outcome.isEmpty());
        QCOMPARE(read.notes,
                 (QStringList{QStringLiteral("journal.jsonl, строка 2: повреждена, пропущена"),
                              QStringLiteral("journal.jsonl, строка 4: повреждена, пропущена")}));
    }

    // Past its size the journal goes on in a new file; the full one keeps
    // the day in its name, and the reader reads both.
    void a_full_journal_goes_on_in_a_new_file()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.jsonl"));
        Journal journal(path);
        QCOMPARE(
            journal.append(
                QJsonDocument::fromJson(record_line(QStringLiteral("old"), "intent")).object()),
            QString());
        QFile f(path);
        QVERIFY(f.resize(journal_rotate_bytes)); // the rest is a hole, read as damage
        QCOMPARE(
            journal.append(
                QJsonDocument::fromJson(record_line(QStringLiteral("new"), "intent")).object()),
            QString());
        const QString day = QDate::currentDate().toString(Qt::ISODate);
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("journal-%1.jsonl").arg(day))));
        QVERIFY(QFileInfo(path).size() < 1000);
        const JournalRead read = read_journal(path);
        QCOMPARE(read.entries.size(), 2);
        QCOMPARE(read.entries[1].intent["id"].toString(), QStringLiteral("new"));
    }

    // Two programs appending at once, hundreds of records each: every line
    // whole, none lost.
    void programs_appending_at_once_tear_no_line()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.jsonl"));
        QProcess a, b;
        a.start(QStringLiteral(CHILD_PATH), {path, QStringLiteral("300"), QStringLiteral("a")});
        b.start(QStringLiteral(CHILD_PATH), {path, QStringLiteral("300"), QStringLiteral("b")});
        for (QProcess *p : {&a, &b}) {
            QVERIFY(p->waitForFinished(event_wait_ms));
            QCOMPARE(p->exitCode(), 0);
        }
        const JournalRead read = read_journal(path);
        QCOMPARE(read.notes, QStringList());
        QCOMPARE(read.entries.size(), 600);
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
