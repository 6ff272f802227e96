// The traffic monitor without a line: exchanges made into lines and counted,
// the bounded store, pause, and saving whole or not at all.

#include "event_wait.h"
#include "message_box.h"
#include "monitor_window.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

using Counts = QList<qint64>; // requests, good, crc_mismatch, no_answer, exceptions

Counts counts(const TrafficCounters &c)
{
    return {c.requests, c.good, c.crc_mismatch, c.no_answer, c.exceptions};
}

QStringList held(const TrafficLog &log)
{
    return QStringList(log.lines().begin(), log.lines().end());
}

// The lines without their time of day ("12:34:56.789 ").
QStringList without_clock(const QStringList &lines)
{
    QStringList out;
    for (const QString &line : lines)
        out.append(line.mid(13));
    return out;
}

Exchange poll_tick(int n = 0)
{
    Exchange e;
    e.port_open = true;
    e.request = QByteArray::fromHex("010300c8000a4433");
    e.request_ms = 1'000'000 + n;
    e.reply = QByteArray::fromHex("01030202057927");
    e.reply_ms = e.request_ms + 12;
    e.verdict = Verdict::good;
    e.sent = e.request;
    e.sent_ms = e.request_ms + 150;
    return e;
}

} // namespace

class TestMonitor : public QObject {
    Q_OBJECT

private slots:
    void exchange_lines_and_counts_data();
    void exchange_lines_and_counts();
    void keeps_the_last_lines_only();
    void pause_counts_but_keeps_no_lines();
    void save_replaces_the_file_whole_or_not_at_all();
    void the_window_says_where_it_saved();
};

void TestMonitor::exchange_lines_and_counts_data()
{
    QTest::addColumn<bool>("port_open");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<int>("exception");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Counts>("counted");

    const QByteArray poll = QByteArray::fromHex("010300c8000a4433");
    const QString sent_line = QStringLiteral("→ 01 03 00 C8 00 0A 44 33");
    const int good = int(Verdict::good);
    const int crc = int(Verdict::crc_mismatch);
    const int none = int(Verdict::no_answer);
    QTest::newRow("good") << true << poll << QByteArray::fromHex("01030202057927") << good << -1
                          << poll << QStringList{"← 01 03 02 02 05 79 27  ОК, 12 мс", sent_line}
                          << Counts{1, 1, 0, 0, 0};
    QTest::newRow("crc mismatch") << true << poll << QByteArray::fromHex("010302020579d8") << crc
                                  << -1 << poll
                                  << QStringList{"← 01 03 02 02 05 79 D8  несовпадение КС, 12 мс",
                                                 sent_line}
                                  << Counts{1, 0, 1, 0, 0};
    QTest::newRow("silence") << true << poll << QByteArray() << none << -1 << poll
                             << QStringList{"← нет ответа", sent_line} << Counts{1, 0, 0, 1, 0};
    QTest::newRow("two bytes") << true << poll << QByteArray::fromHex("0103") << none << -1 << poll
                               << QStringList{"← 01 03  нет ответа", sent_line}
                               << Counts{1, 0, 0, 1, 0};
    QTest::newRow("exception")
        << true << poll << QByteArray::fromHex("018302c0f1") << good << 2 << poll
        << QStringList{"← 01 83 02 C0 F1  исключение, код 2 (недопустимый адрес данных), 12 мс",
                       sent_line}
        << Counts{1, 0, 0, 0, 1};
    // Nothing was out and nothing came: only the frame sent.
    QTest::newRow("first tick") << true << QByteArray() << QByteArray() << none << -1 << poll
                                << QStringList{sent_line} << Counts{1, 0, 0, 0, 0};
    // The port is closed: nothing sent, nothing could come.
    QTest::newRow("port closed") << false << QByteArray() << QByteArray() << none << -1
                                 << QByteArray() << QStringList{} << Counts{0, 0, 0, 0, 0};
    // The port was lost after the request went out: not a line exchange.
    QTest::newRow("port lost") << false << poll << QByteArray() << none << -1 << QByteArray()
                               << QStringList{} << Counts{0, 0, 0, 0, 0};
}

void TestMonitor::exchange_lines_and_counts()
{
    QFETCH(bool, port_open);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, verdict);
    QFETCH(int, exception);
    QFETCH(QByteArray, sent);
    QFETCH(QStringList, lines);
    QFETCH(Counts, counted);

    Exchange e;
    e.port_open = port_open;
    e.request = request;
    e.request_ms = request.isEmpty() ? 0 : 1'000'000;
    e.reply = reply;
    e.reply_ms = reply.isEmpty() ? 0 : 1'000'012;
    e.verdict = Verdict(verdict);
    e.exception_code = exception;
    e.sent = sent;
    e.sent_ms = sent.isEmpty() ? 0 : 1'000'150;

    MonitorWindow window;
    window.add_exchange(e);
    window.flush();
    QCOMPARE(without_clock(held(window.log())), lines);
    QCOMPARE(counts(window.log().counters()), counted);
    const auto *text = window.findChild<QPlainTextEdit *>(QStringLiteral("txt_lines"));
    QCOMPARE(text->toPlainText(), held(window.log()).join(QLatin1Char('\n')));
}

void TestMonitor::keeps_the_last_lines_only()
{
    MonitorWindow window;
    const int ticks = TrafficLog::max_lines; // two lines each
    for (int n = 0; n < ticks; ++n) {
        window.add_exchange(poll_tick(n));
        if (n % 1000 == 999 || n == ticks / 4)
            window.flush();
    }
    window.flush();

    const TrafficLog &log = window.log();
    QCOMPARE(int(log.lines().size()), TrafficLog::max_lines);
    QCOMPARE(log.counters().requests, qint64(ticks));
    QCOMPARE(log.counters().good, qint64(ticks));
    // The oldest kept is the reply line of the tick half-way through.
    QCOMPARE(log.lines().front(), exchange_lines(poll_tick(ticks / 2)).first());
    QCOMPARE(log.lines().back(), exchange_lines(poll_tick(ticks - 1)).last());

    const auto *text = window.findChild<QPlainTextEdit *>(QStringLiteral("txt_lines"));
    QCOMPARE(text->blockCount(), TrafficLog::max_lines);
    QCOMPARE(text->document()->firstBlock().text(), log.lines().front());
    QCOMPARE(text->document()->lastBlock().text(), log.lines().back());
}

void TestMonitor::pause_counts_but_keeps_no_lines()
{
    MonitorWindow window;
    window.add_exchange(poll_tick());
    auto *pause = window.findChild<QPushButton *>(QStringLiteral("cmd_pause"));
    window.flush();
    pause->click();
    window.add_exchange(poll_tick(1));
    window.add_reconnect();
    window.flush();
    QCOMPARE(int(window.log().lines().size()), 2);
    QCOMPARE(window.log().counters().requests, qint64(2));
    QCOMPARE(window.log().counters().reconnects, qint64(1));
    const auto *text = window.findChild<QPlainTextEdit *>(QStringLiteral("txt_lines"));
    QCOMPARE(text->blockCount(), 2);

    pause->click();
    window.add_exchange(poll_tick(2));
    // Hidden, it draws nothing; shown, its own refresh catches up, counters included.
    QVERIFY(!window.findChild<QTimer *>()->isActive());
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(text->blockCount(), 4, event_wait_ms);
    QCOMPARE(int(window.log().lines().size()), 4);
    const auto *counters = window.findChild<QLabel *>(QStringLiteral("lbl_counters"));
    QVERIFY2(counters->text().startsWith(QStringLiteral("Запросов: 3 ")),
             qPrintable(counters->text()));
}

void TestMonitor::save_replaces_the_file_whole_or_not_at_all()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("обмен.txt"));
    TrafficLog log;
    for (int n = 0; n < TrafficLog::max_lines; ++n)
        log.add_exchange(poll_tick(n));

    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old\n");
    }
    QCOMPARE(log.save(path), QString());
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray all = saved.readAll();
    QCOMPARE(all.count('\n'), qsizetype(TrafficLog::max_lines));
    QVERIFY(all.endsWith(log.lines().back().toUtf8() + '\n'));
    saved.close();

    QVERIFY(!log.save(dir.filePath(QStringLiteral("missing/обмен.txt"))).isEmpty());

#ifdef Q_OS_UNIX
    // A write cut short half-way (a file size limit stands in for a full
    // disk) reports the failure and leaves the old file as it was.
    QVERIFY(saved.open(QIODevice::WriteOnly));
    saved.write("old\n");
    saved.close();
    rlimit was{};
    getrlimit(RLIMIT_FSIZE, &was);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = was;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    const QString error = log.save(path);
    setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, old_handler);
    QVERIFY(!error.isEmpty());
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("old\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("обмен.txt")});
#endif
}

// A name typed without ".txt" gets it, and the window names the file it
// wrote, even with "%1" in the path.
void TestMonitor::the_window_says_where_it_saved()
{
    QTemporaryDir dir;
    MonitorWindow w;
    w.add_exchange(poll_tick(0));
    const QString typed = dir.filePath(QStringLiteral("обмен %1%2"));
    file_dialog_fn() = [&](QWidget *, FileChoice &) { return typed; };
    w.findChild<QPushButton *>(QStringLiteral("cmd_save"))->click();
    file_dialog_fn() = nullptr;
    QVERIFY(QFile::exists(typed + QStringLiteral(".txt")));
    QCOMPARE(w.saved_note(), QStringLiteral("Сохранено: ") + QDir::toNativeSeparators(typed) +
                                 QStringLiteral(".txt (строк: ") +
                                 QString::number(w.log().lines().size()) + QLatin1Char(')'));
}

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
