// rzt604-cli as a script sees it: the real executable against rzt604-sim on
// pseudo-terminals, judged by its exit code, its standard output and what
// the simulators received and kept; and how both programs end on a signal.

#include "event_wait.h"
#include "port_lock.h"
#include "sim_process.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <list>
#include <memory>

#include <csignal>
#include <sys/resource.h>

namespace {

// trims 100 100 100, imax_timed 5000, timer 125, imax_instant 20000, CT 1000, offset 0, relay 0
const QByteArray default_memory = QByteArray::fromHex("6464641388007d4e2003e8000000");
// trims 90 95 99, imax_timed 1500, timer 300, imax_instant 7000, CT 500, offset 20, relay 1
const QByteArray other_memory = QByteArray::fromHex("5a5f6305dc012c1b5801f4001401");

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

struct Sim {
    std::unique_ptr<QProcess> process;
    QString symlink; // its --link, the port the tool is given
    QString memory;
    QString error; // why it did not come up; empty when it did

    // Requests the simulator received since the last call, as hex, in order,
    // from its frame log on standard error. Waits for `count` of them (the
    // simulator may log a request after the tool that sent it has ended), then
    // looks a little longer for any that should not have come.
    QStringList received(qsizetype count = 0) const
    {
        const QDeadlineTimer deadline(event_wait_ms);
        QStringList rx = sim_requests(*process);
        while (rx.size() < count && process->waitForReadyRead(int(deadline.remainingTime())))
            rx += sim_requests(*process);
        QTest::qWait(300);
        rx += sim_requests(*process);
        return rx;
    }
};

QByteArray read_file(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool write_file(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A parameter file without the line that says when it was saved.
QByteArray without_saved(const QByteArray &json)
{
    QByteArray out;
    for (const QByteArray &line : json.split('\n')) {
        if (!line.trimmed().startsWith("\"saved\""))
            out += line + '\n';
    }
    return out;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::list<Sim> m_sims; // references to them stay valid
    // The tool copied into a folder of the suite's own, where its journal
    // of setting changes goes too.
    QTemporaryDir m_bin;
    QString m_cli;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    // A simulator on its own symbolic link; memory is written to its file
    // first when given. Its error says why it did not come up.
    const Sim &add_sim(const QString &name, const QStringList &options = {},
                       const QByteArray &memory = {});
    Run cli(const QStringList &args, const QString &program = {});

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void params_copied_between_controllers();
    void verify_catches_a_value_the_controller_keeps();
    void invalid_file_is_refused_before_a_byte_data();
    void invalid_file_is_refused_before_a_byte();
    void read_json_carries_every_field_as_numbers();
    void monitor_writes_a_row_per_reply();
    void monitor_ends_the_file_cleanly_on_sigterm();
    void window_releases_the_port_on_a_signal_data();
    void window_releases_the_port_on_a_signal();
    void monitor_says_what_it_waits_for();
    void monitor_never_truncates_a_file();
    void monitor_stops_on_a_failed_write();
    void params_through_standard_input_and_output();
    void several_controllers_on_one_line();
    void a_line_read_at_its_own_speed();
    void default_port_from_ini_and_nothing_written();
    void scan_lists_the_addresses_that_answer();
    void exit_codes_data();
    void exit_codes();
};

void TestCli::initTestCase()
{
    m_cli = m_bin.filePath(QStringLiteral("rzt604-cli"));
    QVERIFY(QFile::copy(QStringLiteral(CLI_PATH), m_cli));
}

void TestCli::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCli::cleanup()
{
    for (Sim &s : m_sims)
        stop_process(*s.process);
    m_sims.clear();
    m_dir.reset();
}

const Sim &TestCli::add_sim(const QString &name, const QStringList &options,
                            const QByteArray &memory)
{
    Sim s;
    s.symlink = path(name);
    // A line of several controllers keeps a memory file for each.
    const int at = int(options.indexOf(QStringLiteral("--address")));
    const bool line = at >= 0 && options.value(at + 1).contains(QRegularExpression("[,-]"));
    s.memory = path(name + (line ? QStringLiteral("-{address}.bin") : QStringLiteral(".bin")));
    s.process = std::make_unique<QProcess>();
    if (!memory.isEmpty() && !write_file(s.memory, memory)) {
        s.error = s.memory + QStringLiteral(" not written");
    } else {
        // The first line on standard output comes once the symbolic link is in place.
        s.error =
            start_sim(*s.process, QStringList{"--link", s.symlink, "--memory", s.memory} + options)
                .error;
    }
    m_sims.push_back(std::move(s));
    return m_sims.back();
}

Run TestCli::cli(const QStringList &args, const QString &program)
{
    QProcess p;
    p.start(program.isEmpty() ? m_cli : program, args);
    Run r;
    if (!p.waitForStarted(event_wait_ms) || !p.waitForFinished(event_wait_ms))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void TestCli::params_copied_between_controllers()
{
    const Sim &a = add_sim("a", {}, default_memory);
    QVERIFY2(a.error.isEmpty(), qPrintable(a.error));
    const Sim &b = add_sim("b", {}, other_memory);
    QVERIFY2(b.error.isEmpty(), qPrintable(b.error));
    const QString file_a = path("a.json");
    const QString file_b = path("b.json");

    QCOMPARE(cli({"--port", a.symlink, "params", "get", file_a}).code, 0);
    const Run set = cli({"--port", b.symlink, "params", "set", file_a, "--verify"});
    QVERIFY2(set.code == 0, set.err.constData());
    // Byte for byte what the first controller holds, in the second one's memory.
    QCOMPARE(read_file(b.memory).toHex(), default_memory.toHex());

    const Run get_b = cli({"--port", b.symlink, "params", "get"});
    QCOMPARE(get_b.code, 0);
    QVERIFY(write_file(file_b, get_b.out));
    QCOMPARE(without_saved(read_file(file_b)), without_saved(read_file(file_a)));
    // The set: what the controller holds first (for the journal), three
    // grouped writes, each read back after its echo, then the fresh read of
    // --verify; the get: the versions, then the three reads. Nothing else.
    const QStringList want = {
        "01 03 00 c8 00 0a", "01 64 01 01 05", "01 64 01 06 08", "01 64 01 0e 01", // before
        "01 65 01 01 05",    "01 65 01 06 08", "01 65 01 0e 01",                   // set
        "01 64 01 01 05",    "01 64 01 06 08", "01 64 01 0e 01",                   // read-backs
        "01 64 01 01 05",    "01 64 01 06 08", "01 64 01 0e 01",                   // verify
        "01 03 00 c8 00 0a", "01 64 01 01 05", "01 64 01 06 08", "01 64 01 0e 01", // get
    };
    const QStringList rx = b.received(want.size());
    QCOMPARE(rx.size(), want.size());
    for (qsizetype i = 0; i < want.size(); ++i)
        QVERIFY2(rx[i].startsWith(want[i]), qPrintable(rx[i] + " != " + want[i]));
}

void TestCli::verify_catches_a_value_the_controller_keeps()
{
    // Writes to timer_s (262) are echoed but not kept.
    const Sim &s = add_sim("s", {"--ignore-write", "262"}, default_memory);
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    QByteArray json = cli({"--port", s.symlink, "params", "get"}).out;
    json.replace("\"raw\": 125", "\"raw\": 300").replace("\"raw\": 5000", "\"raw\": 1500");
    QVERIFY(write_file(path("f.json"), json));

    // Every write is read back: the echo alone cannot tell, the memory can.
    for (const QStringList &verify : {QStringList(), QStringList{"--verify"}}) {
        const Run set =
            cli(QStringList{"--port", s.symlink, "params", "set", path("f.json")} + verify);
        QCOMPARE(set.code, 5);
        const QString err = QString::fromUtf8(set.err);
        QVERIFY2(err.contains("timer_s") && err.contains("12.5 с") && err.contains("30 с"),
                 qPrintable(err));
        QVERIFY2(!err.contains("imax_timed"), qPrintable(err)); // that one was kept
    }
    // The journal keeps each write with what the controller kept.
    const Run journal = cli({"journal", "--json"});
    QCOMPARE(journal.code, 0);
    int timer_rows = 0;
    for (const QByteArray &line : journal.out.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o["parameter"].toString() != QLatin1String("timer_s") || o["port"] != s.symlink)
            continue;
        ++timer_rows;
        QCOMPARE(o["outcome"].toString(), QStringLiteral("not_taken"));
        QCOMPARE(o["kept"].toString(), QStringLiteral("12.5"));
        QCOMPARE(o["written"].toString(), QStringLiteral("30"));
        QCOMPARE(o["before"].toString(), QStringLiteral("12.5"));
    }
    QCOMPARE(timer_rows, 2);
    // And a comparison reads afresh and names the difference.
    const Run compare = cli({"--port", s.symlink, "params", "compare", path("f.json")});
    QCOMPARE(compare.code, 5);
    QVERIFY2(compare.out.contains("timer_s") && !compare.out.contains("imax_timed"),
             compare.out.constData());
}

void TestCli::invalid_file_is_refused_before_a_byte_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addRow("not JSON") << QByteArray("\"parameters\": [")
                              << QByteArray("\"parameters\": [[");
    QTest::addRow("other device") << QByteArray("RZT-604Д") << QByteArray("RZT-605");
    QTest::addRow("raw out of range") << QByteArray("\"raw\": 125") << QByteArray("\"raw\": 70000");
    QTest::addRow("raw not whole") << QByteArray("\"raw\": 125") << QByteArray("\"raw\": 12.5");
    QTest::addRow("parameter missing")
        << QByteArray("{\"id\": \"relay_mode\"") << QByteArray("{\"note\": \"relay_mode\"");
    QTest::addRow("no such file") << QByteArray() << QByteArray();
}

void TestCli::invalid_file_is_refused_before_a_byte()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    const Sim &s = add_sim("s", {}, default_memory);
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    QByteArray json = cli({"--port", s.symlink, "params", "get"}).out;
    QVERIFY(json.contains(from));
    s.received(4); // the get's own: the versions and the three reads
    if (!from.isEmpty())
        QVERIFY(write_file(path("f.json"), json.replace(from, to)));

    const Run r = cli({"--port", s.symlink, "params", "set", path("f.json"), "--verify"});
    QCOMPARE(r.code, 3);
    QVERIFY(!r.err.isEmpty());
    QCOMPARE(s.received(), QStringList());
    QCOMPARE(read_file(s.memory).toHex(), default_memory.toHex());
}

void TestCli::read_json_carries_every_field_as_numbers()
{
    const Sim &s = add_sim("s");
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    const Run r = cli({"--port", s.symlink, "read", "--json"});
    QCOMPARE(r.code, 0);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(r.out, &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, r.out.constData());
    QCOMPARE(o.keys(), QStringList({"ain1", "ain2", "frequency", "ia", "ib", "ic",
                                    "protocol_version", "software_version"}));
    for (const char *key : {"ia", "ib", "ic"}) {
        QVERIFY(o[key].isDouble());
        QVERIFY2(o[key].toDouble() > 1.1 && o[key].toDouble() < 1.3, key); // 1200 mA ± noise
    }
    QVERIFY(o["frequency"].toDouble() > 49.5 && o["frequency"].toDouble() < 50.5);
    QCOMPARE(o["ain1"].toDouble(), 12.0);
    QCOMPARE(o["ain2"].toDouble(), 3.0);
    QCOMPARE(o["protocol_version"].toString(), QStringLiteral("2.05"));
    QCOMPARE(o["software_version"].toString(), QStringLiteral("1.12"));
}

void TestCli::monitor_writes_a_row_per_reply()
{
    const Sim &s = add_sim("s");
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    const Run r = cli({"--port", s.symlink, "monitor", "--duration", "2", "--interval", "200"});
    QCOMPARE(r.code, 0);
    QList<QByteArray> lines = r.out.split('\n');
    QCOMPARE(lines.takeLast(), QByteArray()); // every line ends
    QCOMPARE(lines.takeFirst(), QByteArray("time,ia,ib,ic,frequency,ain1,ain2"));
    // A poll every 200 ms for 2 s: as often as asked, not as the line allows.
    QVERIFY2(lines.size() >= 8 && lines.size() <= 11, qPrintable(QString::number(lines.size())));
    static const QRegularExpression row(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,1\.[123]\d\d,1\.[123]\d\d,1\.[123]\d\d,)"
        R"((49\.[5-9]|50\.[0-4])\d,12\.00,3\.00$)");
    for (const QByteArray &line : std::as_const(lines))
        QVERIFY2(row.match(QString::fromLatin1(line)).hasMatch(), line.constData());
}

void TestCli::monitor_ends_the_file_cleanly_on_sigterm()
{
    const Sim &s = add_sim("s");
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    const QString csv = path("m.csv");
    QProcess p;
    p.start(m_cli, {"--port", s.symlink, "monitor", "--csv", csv});
    // Rows are in the file while the monitor still runs.
    QTRY_VERIFY_WITH_TIMEOUT(read_file(csv).count('\n') >= 4, event_wait_ms);
    const QString lock = port_lock_file(s.symlink);
    QVERIFY2(QFile::exists(lock), qPrintable(lock));
    p.terminate();
    QVERIFY(p.waitForFinished(event_wait_ms));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFile::exists(lock)); // the next user is not refused
    const QByteArray text = read_file(csv);
    QVERIFY(text.endsWith('\n'));
    QCOMPARE(text.trimmed().split('\n').last().count(','), 6);
    QVERIFY(p.readAllStandardOutput().isEmpty()); // with --csv, nothing on stdout
}

void TestCli::window_releases_the_port_on_a_signal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

// The window ends as when it is closed, and takes its port's lock file with it.
void TestCli::window_releases_the_port_on_a_signal()
{
    QFETCH(int, signal);
    const Sim &s = add_sim("s");
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    // A copy of the program in a folder of its own, so that its тп.ini is ours.
    const QString bin = path("bin");
    QVERIFY(QDir().mkpath(bin));
    const QString program = bin + QStringLiteral("/rzt604-modbus");
    QVERIFY(QFile::copy(QStringLiteral(APP_PATH), program));
    QVERIFY(write_file(bin + QStringLiteral("/тп.ini"),
                       "[PC config]\r\nCOM=5\r\n[Ports]\r\nCOM5=" + s.symlink.toUtf8() + "\r\n"));
    QProcess p;
    p.start(program, {"-platform", "offscreen"});
    const QString lock = port_lock_file(s.symlink);
    QVERIFY(!lock.isEmpty());
    // Open and polling: the simulator has its requests.
    QVERIFY(!s.received(3).isEmpty());
    QVERIFY2(QFile::exists(lock), qPrintable(lock));
    ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(event_wait_ms));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFile::exists(lock));
}

// Paced by the replies, not by the window's tick: eight controllers on a
// line kept at 115200 baud with a 2 ms turnaround are each read many times
// a second; a silent ninth costs only its own time-out; replies that come
// after their time are never taken for the next controller's.
void TestCli::a_line_read_at_its_own_speed()
{
    const Sim &s = add_sim("s", {"--address", "1-8", "--baud", "115200", "--turnaround", "2"});
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    const auto rows_per_address = [](const QByteArray &csv) {
        QMap<int, int> rows;
        for (const QByteArray &row : csv.trimmed().split('\n').mid(1))
            ++rows[row.split(',').value(1).toInt()];
        return rows;
    };
    const QStringList fast = {"monitor", "--interval", "0", "--duration", "2"};
    const Run eight = cli(QStringList{"--port", s.symlink, "--address", "1-8"} + fast);
    QCOMPARE(eight.code, 0);
    // On the window's tick each would be read 2 times in 2 s; the bound
    // only says the line, not a tick, sets the pace.
    const QMap<int, int> counts = rows_per_address(eight.out);
    QCOMPARE(counts.size(), 8);
    for (int n : counts)
        QVERIFY2(n >= 10, eight.out.left(400).constData());
    const Run nine =
        cli(QStringList{"--port", s.symlink, "--address", "1-9", "--reply-timeout", "50"} + fast);
    const QMap<int, int> with_silent = rows_per_address(nine.out);
    QCOMPARE(with_silent.value(9), 0);
    for (int a = 1; a <= 8; ++a)
        QVERIFY2(with_silent.value(a) >= 5, nine.out.left(400).constData());

    const Sim &late = add_sim("late", {"--address", "1,2", "--delay", "80"});
    QVERIFY2(late.error.isEmpty(), qPrintable(late.error));
    const Run r = cli({"--port", late.symlink, "--address", "1,2", "--reply-timeout", "50",
                       "monitor", "--interval", "0", "--duration", "1.5"});
    // Each reply lands while the other controller's request is out, and is
    // no reading of it. (On a loaded machine the time-out may be taken late
    // and a reply still count for its own request: that is no mistake.)
    // Each controller's currents sit near 1.2 A plus 0.1 A per address above 1.
    for (const QByteArray &row : r.out.trimmed().split('\n').mid(1)) {
        const QList<QByteArray> cells = row.split(',');
        const double ia = cells.value(2).toDouble();
        const int address = cells.value(1).toInt();
        QVERIFY2(qAbs(ia - (1.2 + 0.1 * (address - 1))) < 0.05, row.constData());
    }
}

void TestCli::default_port_from_ini_and_nothing_written()
{
    const Sim &s = add_sim("s");
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    // A copy of the tool in a folder of its own, so that its тп.ini is ours.
    const QString bin = path("bin");
    QVERIFY(QDir().mkpath(bin));
    const QString program = bin + QStringLiteral("/rzt604-cli");
    QVERIFY(QFile::copy(QStringLiteral(CLI_PATH), program));

    // No тп.ini: the tool must not make one.
    QCOMPARE(cli({"--port", s.symlink, "read"}, program).code, 0);
    QVERIFY(!QFile::exists(bin + QStringLiteral("/тп.ini")));

    const QByteArray ini = "[PC config]\r\nCOM=7\r\n[Ports]\r\nCOM7=" + s.symlink.toUtf8() + "\r\n";
    QVERIFY(write_file(bin + QStringLiteral("/тп.ini"), ini));
    const Run r = cli({"read", "--json"}, program);
    QVERIFY2(r.code == 0, r.err.constData());
    QCOMPARE(read_file(bin + QStringLiteral("/тп.ini")), ini);

    // A file that cannot be read is named, and no port is guessed from it.
    const QByteArray binary = ini + QByteArray(8, '\0');
    QVERIFY(write_file(bin + QStringLiteral("/тп.ini"), binary));
    const Run refused = cli({"read"}, program);
    QCOMPARE(refused.code, 2);
    QVERIFY2(QString::fromUtf8(refused.err).contains(QStringLiteral("тп.ini: не текстовый файл")),
             refused.err.constData());
    QCOMPARE(read_file(bin + QStringLiteral("/тп.ini")), binary);

    // A value that is no port number is not taken for COM1, whose entry
    // here leads to the simulator: nothing reaches it.
    s.received(1);
    const QByteArray bad =
        "[PC config]\r\nCOM=-1\r\n[Ports]\r\nCOM1=" + s.symlink.toUtf8() + "\r\n";
    QVERIFY(write_file(bin + QStringLiteral("/тп.ini"), bad));
    const Run wrong = cli({"read"}, program);
    QCOMPARE(wrong.code, 2);
    QVERIFY2(QString::fromUtf8(wrong.err).contains(QStringLiteral("тп.ini: COM=-1")),
             wrong.err.constData());
    QCOMPARE(s.received(), QStringList());
}

void TestCli::exit_codes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message"); // a piece of what standard error says
    QTest::addRow("silent slave") << QStringList{"--address", "9", "--timeout", "1", "read"} << 4
                                  << "от адреса 9";
    QTest::addRow("silent slave, params")
        << QStringList{"--address", "9", "--timeout", "1", "params", "get"} << 4 << "от адреса 9";
    QTest::addRow("exception") << QStringList{"--address", "2", "--timeout", "1", "read"} << 4
                               << "исключение 2: недопустимый адрес данных";
    QTest::addRow("missing port") << QStringList{"--port", "/nonexistent/ttyRZT", "read"} << 2
                                  << "порт /nonexistent/ttyRZT не открыт";
    QTest::addRow("port number out of range")
        << QStringList{"--port", "COM17", "read"} << 2 << "COM17";
    QTest::addRow("unknown command") << QStringList{"reed"} << 1 << "reed";
    QTest::addRow("option of another command")
        << QStringList{"read", "--verify"} << 1 << "--verify";
    QTest::addRow("set without a file") << QStringList{"params", "set"} << 1 << "params set";
    QTest::addRow("address out of range")
        << QStringList{"--address", "0", "read"} << 1 << "--address";
    QTest::addRow("timeout nan") << QStringList{"--timeout", "nan", "read"} << 1 << "--timeout";
    QTest::addRow("duration inf") << QStringList{"monitor", "--duration", "inf"} << 1
                                  << "--duration";
    // Qt's own parser speaks Russian too.
    QTest::addRow("unknown option") << QStringList{"--bogus", "read"} << 1 << "bogus";
}

void TestCli::exit_codes()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    // Address 1 answers; address 2 answers everything with exception 2. The
    // "%1%2%3" in a name must reach the message as it is.
    const Sim &s = add_sim("s%1%2%3");
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    const Sim &refusing = add_sim("r", {"--address", "2", "--exception", "2"});
    QVERIFY2(refusing.error.isEmpty(), qPrintable(refusing.error));
    if (!args.contains("--port"))
        args = QStringList{"--port", args.contains("2") ? refusing.symlink : s.symlink} + args;
    const Run r = cli(args);
    QCOMPARE(r.code, code);
    QVERIFY(r.out.isEmpty());
    const QString err = QString::fromUtf8(r.err);
    QVERIFY2(err.contains(message), r.err.constData());
    if (code == 4)
        QVERIFY2(err.contains(args[1]), r.err.constData());
}

void TestCli::scan_lists_the_addresses_that_answer()
{
    const Sim &s = add_sim("s", {"--address", "17"});
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    const Run r = cli({"--port", s.symlink, "scan", "--from", "10", "--to", "20"});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QByteArray("17\n"));
    QSet<QString> asked; // the first byte of every request: the address
    for (const QString &rx : s.received(11))
        asked.insert(rx.left(2));
    QCOMPARE(asked,
             QSet<QString>({"0a", "0b", "0c", "0d", "0e", "0f", "10", "11", "12", "13", "14"}));
    const Run none = cli({"--port", s.symlink, "scan", "--to", "16"});
    QCOMPARE(none.code, 4);
    QVERIFY(none.out.isEmpty());
}

// A logger must never stop in silence: the port lost and back, and a
// controller that stops answering, are said on stderr and waited for.
void TestCli::monitor_says_what_it_waits_for()
{
    const Sim &first = add_sim("s");
    QVERIFY2(first.error.isEmpty(), qPrintable(first.error));
    const QString csv = path("m.csv");
    QProcess p;
    p.start(m_cli, {"--port", first.symlink, "--timeout", "1", "monitor", "--csv", csv});
    QTRY_VERIFY_WITH_TIMEOUT(read_file(csv).count('\n') >= 3, event_wait_ms);
    first.process->terminate();
    first.process->waitForFinished(event_wait_ms);
    QByteArray err;
    QTRY_VERIFY2_WITH_TIMEOUT((err += p.readAllStandardError()).contains("потерян"),
                              err.constData(), event_wait_ms);

    const qsizetype before = read_file(csv).count('\n');
    const Sim &second = add_sim("s");
    QVERIFY2(second.error.isEmpty(), qPrintable(second.error));
    QTRY_VERIFY_WITH_TIMEOUT(read_file(csv).count('\n') >= before + 3, event_wait_ms);
    QVERIFY(p.state() == QProcess::Running);

    // Frozen for longer than the timeout: said once, then rows again.
    ::kill(pid_t(second.process->processId()), SIGSTOP);
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("нет полного ответа"),
                             event_wait_ms);
    const qsizetype frozen = read_file(csv).count('\n');
    ::kill(pid_t(second.process->processId()), SIGCONT);
    QTRY_VERIFY_WITH_TIMEOUT(read_file(csv).count('\n') >= frozen + 3, event_wait_ms);
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("снова идут"),
                             event_wait_ms);
    p.terminate();
    QVERIFY(p.waitForFinished(event_wait_ms));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(read_file(csv).endsWith('\n'));
}

// Restarting a logging service must not wipe the previous run.
void TestCli::monitor_never_truncates_a_file()
{
    const Sim &s = add_sim("s");
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    const QString csv = path("m.csv");
    const QByteArray header = "time,ia,ib,ic,frequency,ain1,ain2\n";
    const QByteArray old =
        header + "2026-12-07T10:00:00.000+03:00,1.000,1.000,1.000,50.00,0.00,0.00\n";
    QVERIFY(write_file(csv, old + "2026-12-07T10:00:00.1")); // a row cut short by a crash
    const QStringList run = {"--port",     s.symlink, "monitor", "--duration", "1",
                             "--interval", "100",     "--csv",   csv};

    const Run refused = cli(run);
    QCOMPARE(refused.code, 3);
    QVERIFY2(QString::fromUtf8(refused.err).contains(csv), refused.err.constData());
    QCOMPARE(read_file(csv), old + "2026-12-07T10:00:00.1");

    QCOMPARE(cli(run + QStringList{"--append"}).code, 0);
    QByteArray text = read_file(csv);
    QVERIFY(text.startsWith(old));
    QVERIFY(text.count('\n') > 3);
    QCOMPARE(text.count("time,"), 1);
    QVERIFY(!text.contains("10:00:00.1\n") && !text.contains("10:00:00.12026"));

    QVERIFY(write_file(path("other.csv"), "time,address,ia\n"));
    QCOMPARE(cli({"--port", s.symlink, "monitor", "--duration", "1", "--csv", path("other.csv"),
                  "--append"})
                 .code,
             3);
    QCOMPARE(read_file(path("other.csv")), QByteArray("time,address,ia\n"));

    QCOMPARE(cli(run + QStringList{"--overwrite"}).code, 0);
    QVERIFY(read_file(csv).startsWith(header));
    QVERIFY(!read_file(csv).contains("10:00:00"));
}

// A full disk (here: a file size limit) ends the run with exit 3 and a
// message, and every whole row written stays.
void TestCli::monitor_stops_on_a_failed_write()
{
    const Sim &s = add_sim("s");
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    const QString csv = path("m.csv");
    QProcess p;
    p.setChildProcessModifier([] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{300, 300};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    p.start(m_cli, {"--port", s.symlink, "monitor", "--csv", csv});
    QVERIFY(p.waitForFinished(event_wait_ms));
    QCOMPARE(p.exitCode(), 3);
    QVERIFY(!p.readAllStandardError().isEmpty());
    const QByteArray text = read_file(csv);
    QVERIFY(text.size() <= 300);
    QVERIFY(text.endsWith('\n'));
    QVERIFY(text.count('\n') >= 2);
}

// "-" is standard input or output, as shells expect.
void TestCli::params_through_standard_input_and_output()
{
    const Sim &a = add_sim("a", {}, default_memory);
    QVERIFY2(a.error.isEmpty(), qPrintable(a.error));
    const Sim &b = add_sim("b", {}, other_memory);
    QVERIFY2(b.error.isEmpty(), qPrintable(b.error));
    const Run get = cli({"--port", a.symlink, "params", "get", "-"});
    QCOMPARE(get.code, 0);
    QProcess set;
    set.start(m_cli, {"--port", b.symlink, "params", "set", "-", "--verify"});
    QVERIFY(set.waitForStarted(event_wait_ms));
    set.write(get.out);
    set.closeWriteChannel();
    QVERIFY(set.waitForFinished(event_wait_ms));
    QVERIFY2(set.exitCode() == 0, set.readAllStandardError().constData());
    QCOMPARE(read_file(b.memory).toHex(), default_memory.toHex());
}

// Three controllers on one line, each with values of its own: every command
// keeps their answers apart.
void TestCli::several_controllers_on_one_line()
{
    const Sim &s = add_sim("s", {"--address", "1,2,5"});
    QVERIFY2(s.error.isEmpty(), qPrintable(s.error));
    const QStringList line = {"--port", s.symlink, "--address", "1,2,5"};

    const Run read = cli(line + QStringList{"read", "--json"});
    QVERIFY2(read.code == 0, read.err.constData());
    QList<QByteArray> objects = read.out.trimmed().split('\n');
    QCOMPARE(objects.size(), 3);
    QList<int> addresses;
    QList<double> currents;
    for (const QByteArray &o : objects) {
        const QJsonObject json = QJsonDocument::fromJson(o).object();
        addresses << json["address"].toInt();
        currents << json["ia"].toDouble();
    }
    QCOMPARE(addresses, (QList<int>{1, 2, 5}));
    // Near 1.2, 1.3 and 1.6 A: each answer is its own controller's.
    QVERIFY2(currents[0] < 1.25 && currents[1] > 1.25 && currents[1] < 1.35 && currents[2] > 1.55,
             read.out.constData());

    const Run monitor = cli(line + QStringList{"monitor", "--duration", "2", "--interval", "300"});
    QCOMPARE(monitor.code, 0);
    QList<QByteArray> rows = monitor.out.trimmed().split('\n');
    QCOMPARE(rows.takeFirst(), QByteArray("time,address,ia,ib,ic,frequency,ain1,ain2"));
    // Each address in turn, each as often as asked.
    QVERIFY(rows.size() >= 9);
    for (int k = 0; k < 6; ++k)
        QCOMPARE(rows[k].split(',').value(1), QByteArray::number(QList<int>{1, 2, 5}[k % 3]));

    QCOMPARE(cli(line + QStringList{"params", "get", path("one.json")}).code, 1);
    QCOMPARE(cli(line + QStringList{"params", "get", path("c{address}.json")}).code, 0);
    for (const char *name : {"c1.json", "c2.json", "c5.json"})
        QVERIFY(read_file(path(name)).contains("\"format\": 1"));
    QVERIFY(read_file(path("c2.json")).contains("\"address\": 2"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
