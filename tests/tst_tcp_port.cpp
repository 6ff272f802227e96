// The serial port of a serial device server: rzt604-sim on a pseudo-terminal
// behind socat, which serves the pty on a loopback TCP port as a device
// server serves its RS-485 line. The window polls through it while the
// server goes away and comes back, and rzt604-cli reads a line of three
// controllers through it. rzt604-cli also reads eight controllers from the
// simulator serving Modbus TCP itself.

#include "event_wait.h"
#include "frm_main.h"
#include "line_driver.h"
#include "message_box.h"
#include "qt_serial_port.h"
#include "sim_process.h"
#include "window_probe.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace {

// Waits for a line of standard output or standard error that contains text.
bool wait_for_text(QProcess &p, QProcess::ProcessChannel channel, const QByteArray &text)
{
    p.setReadChannel(channel);
    const QDeadlineTimer deadline(event_wait_ms);
    while (p.state() == QProcess::Running && !deadline.hasExpired()) {
        while (p.canReadLine()) {
            if (p.readLine().contains(text))
                return true;
        }
        p.waitForReadyRead(100);
    }
    return false;
}

// A loopback port nobody listens on, for a server about to start there.
quint16 free_port()
{
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost, 0) ? s.serverPort() : 0;
}

// socat serving the pty on a loopback TCP port: one connection and then it
// ends, or (fork) one connection after another. Like most device servers it
// serves one client at a time: two of its processes reading the pty would
// take each other's replies.
bool start_server(QProcess &socat, const QString &pty, quint16 port, bool fork = false)
{
    QString listen = QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port);
    if (fork)
        listen += QStringLiteral(",fork,max-children=1");
    socat.start(QStringLiteral("socat"),
                {"-d", "-d", listen, QStringLiteral("FILE:%1,raw,echo=0").arg(pty)});
    return socat.waitForStarted(event_wait_ms) &&
           wait_for_text(socat, QProcess::StandardError, "listening on");
}

// A loopback server that never answers: it accepts nobody and its queue is
// full, so that the system drops further connection requests. Port 0 when
// this system queues them all the same.
class SilentServer {
public:
    SilentServer()
    {
        m_server.setListenBacklogSize(0);
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            return;
        m_server.pauseAccepting();
        for (int i = 0; i < 4 && port == 0; ++i) {
            m_queued.push_back(std::make_unique<QTcpSocket>());
            m_queued.back()->connectToHost(QHostAddress::LocalHost, m_server.serverPort());
            if (!m_queued.back()->waitForConnected(300))
                port = m_server.serverPort();
        }
    }

    quint16 port = 0;

private:
    QTcpServer m_server;
    std::vector<std::unique_ptr<QTcpSocket>> m_queued;
};

QString lost_text(int n)
{
    return QStringLiteral("Порт COM%1 потерян, ожидание подключения").arg(n);
}

struct Run {
    int code = -1;
    QByteArray out, err;
};

Run cli(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(CLI_PATH), args);
    Run r;
    if (!p.waitForFinished(event_wait_ms)) {
        stop_process(p);
        return r;
    }
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

class TestTcpPort : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
            QSKIP("needs socat (scripts/deps installs it)");
    }

    void open_failures_say_why_data();
    void open_failures_say_why();
    void window_polls_through_a_server_that_goes_away_and_comes_back();
    void cli_reads_a_line_of_controllers_through_a_server();
    void a_flooding_server_never_holds_the_command_line();
    void a_malformed_reply_is_never_a_reading_data();
    void a_malformed_reply_is_never_a_reading();
    void cli_reads_a_line_of_controllers_over_modbus_tcp();
};

// A server that streams garbage at full loopback speed: the command line
// still ends when its duration says, with no reading and a word on why.
void TestTcpPort::a_flooding_server_never_holds_the_command_line()
{
    QProcess server;
    server.start(QStringLiteral(HOSTILE_PATH), {"flood"});
    QVERIFY(server.waitForStarted(event_wait_ms));
    QVERIFY(server.waitForReadyRead(event_wait_ms));
    const QString device = QStringLiteral("tcp://127.0.0.1:%1").arg(server.readLine().trimmed());
    QElapsedTimer clock;
    clock.start();
    const Run r = cli({"--port", device, "--timeout", "1", "monitor", "--duration", "3"});
    const qint64 took = clock.elapsed();
    // Three seconds asked; the bound only catches a hang (it took ten minutes).
    QVERIFY2(took < 15000, qPrintable(QString::number(took)));
    QCOMPARE(r.code, 4);
    QVERIFY2(r.out.count('\n') <= 1, r.out.constData()); // the header alone
    stop_process(server);
}

void TestTcpPort::a_malformed_reply_is_never_a_reading_data()
{
    QTest::addColumn<QByteArray>("reply");
    const auto with_crc = [](const QByteArray &body) {
        uint16_t crc = 0xFFFF;
        for (char c : body) {
            crc ^= uint8_t(c);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
        }
        return body + char(crc & 0xFF) + char(crc >> 8);
    };
    QTest::newRow("count 2, 20 data bytes")
        << with_crc(QByteArray::fromHex("010302") + QByteArray(20, 7));
    QTest::newRow("40 registers for 10")
        << with_crc(QByteArray::fromHex("010350") + QByteArray(80, 7));
    QTest::newRow("10 kB after a good reply")
        << with_crc(QByteArray::fromHex("010314") + QByteArray(20, 7)) + QByteArray(10240, 7);
}

void TestTcpPort::a_malformed_reply_is_never_a_reading()
{
    QFETCH(QByteArray, reply);
    QProcess server;
    server.start(QStringLiteral(HOSTILE_PATH), {"reply", QString::fromLatin1(reply.toHex())});
    QVERIFY(server.waitForStarted(event_wait_ms));
    QVERIFY(server.waitForReadyRead(event_wait_ms));
    const QString device = QStringLiteral("tcp://127.0.0.1:%1").arg(server.readLine().trimmed());
    const Run r = cli({"--port", device, "--timeout", "1", "read", "--json"});
    QCOMPARE(r.code, 4);
    QVERIFY2(r.out.isEmpty(), r.out.constData());
    stop_process(server);
}

void TestTcpPort::open_failures_say_why_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no port") << "tcp://127.0.0.1"
                             << "не адрес сервера";
    QTest::newRow("silent server") << "tcp://127.0.0.1:%1"
                                   << "не ответил за 1 с";
    // Nothing listens on 502 here, so the default port shows in the refusal.
    QTest::newRow("Modbus TCP, port 502") << "mbtcp://127.0.0.1"
                                          << "127.0.0.1:502";
}

// The port dialog probes every port and the reconnect opens from the window's
// event loop: a server that never answers must not hold either for long.
void TestTcpPort::open_failures_say_why()
{
    QFETCH(QString, device);
    QFETCH(QString, reason);
    std::unique_ptr<SilentServer> silent;
    if (device.contains(QLatin1String("%1"))) {
        silent = std::make_unique<SilentServer>();
        if (silent->port == 0)
            QSKIP("this system queues every connection request");
        device = device.arg(silent->port);
    }
    QtSerialPort serial(m_dir.filePath(QStringLiteral("тп.ini")));
    QCOMPARE(serial.set_device(device), PortError::None);
    QCOMPARE(serial.open(), PortError::NotAvailable);
    QVERIFY(!serial.is_open());
    QVERIFY(!serial.lost());
    QVERIFY2(serial.open_error_text().contains(reason), qPrintable(serial.open_error_text()));
    // Asked again at once, the port still fails, for the same reason.
    QCOMPARE(serial.open(), PortError::NotAvailable);
    QVERIFY2(serial.open_error_text().contains(reason), qPrintable(serial.open_error_text()));
}

// The server goes away (socat ends, as a device server that reboots): the
// port is lost, and polling resumes once the server is back.
void TestTcpPort::window_polls_through_a_server_that_goes_away_and_comes_back()
{
#ifndef Q_OS_UNIX
    QSKIP("needs POSIX pseudo-terminals");
#endif
    QProcess sim, first, second;
    const SimStart started = start_sim(sim, {"--memory", m_dir.filePath("memory.bin")});
    QVERIFY2(started.error.isEmpty(), qPrintable(started.error));
    const quint16 port = free_port();
    QVERIFY(start_server(first, started.path, port));
    const QString ini = m_dir.filePath(QStringLiteral("тп.ini"));
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("[PC config]\r\nCOM=5\r\n[Ports]\r\nCOM5=tcp://127.0.0.1:%1\r\n")
                .arg(port)
                .toUtf8());
    f.close();

    QStringList boxes;
    message_box_fn() = [&](QWidget *, const QString &text, const QString &,
                           QMessageBox::StandardButtons, QMessageBox::Icon) {
        boxes.append(text);
        return QMessageBox::Cancel;
    };
    auto w = std::make_unique<FrmMain>(std::make_unique<QtSerialPort>(ini), ini);
    QVERIFY(w->Form_Load());
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), text_connected, event_wait_ms);

    stop_process(first);
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), lost_text(5), event_wait_ms);
    // At least one reconnect try meets a closed port and keeps waiting.
    QTest::qWait(1500);
    QCOMPARE(w->status(), lost_text(5));
    sim_requests(sim);

    QVERIFY(start_server(second, started.path, port));
    QElapsedTimer back;
    back.start();
    QStringList requests;
    QTRY_VERIFY_WITH_TIMEOUT(!(requests += sim_requests(sim)).isEmpty(), event_wait_ms);
    const qint64 resumed_ms = back.elapsed();
    qInfo("polling resumed %lld ms after the server came back", resumed_ms);
    // Retried about once a second, so well within two; the bound allows for load.
    QVERIFY2(resumed_ms < 3000, qPrintable(QString::number(resumed_ms)));
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), text_connected, event_wait_ms);
    QCOMPARE(LineDriver::session(w->line()).reconnects(), 1);
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.value(0)));

    w.reset();
    message_box_fn() = nullptr;
    stop_process(second);
    stop_process(sim);
}

// One pty with three controllers, each read by its address, and an address
// between them that nobody answers; then a server that is not there.
void TestTcpPort::cli_reads_a_line_of_controllers_through_a_server()
{
#ifndef Q_OS_UNIX
    QSKIP("needs POSIX pseudo-terminals");
#endif
    QProcess sim, server;
    const SimStart started = start_sim(sim, {"--address", "1,2,5"});
    QVERIFY2(started.error.isEmpty(), qPrintable(started.error));
    const quint16 port = free_port();
    QVERIFY(start_server(server, started.path, port, true));
    const QString device = QStringLiteral("tcp://127.0.0.1:%1").arg(port);

    for (int address : {2, 5, 1}) {
        const Run r =
            cli({"--port", device, "--address", QString::number(address), "read", "--json"});
        QVERIFY2(r.code == 0, r.err.constData());
        // Each controller's currents sit near 1.2 A plus 0.1 A per address above 1.
        const double ia = QJsonDocument::fromJson(r.out).object().value("ia").toDouble();
        QVERIFY2(qAbs(ia - (1.2 + 0.1 * (address - 1))) < 0.05, r.out.constData());
    }
    const Run silent = cli({"--port", device, "--address", "3", "--timeout", "1", "read"});
    QCOMPARE(silent.code, 4);

    const QString nobody = QStringLiteral("tcp://127.0.0.1:%1").arg(free_port());
    const Run refused = cli({"--port", nobody, "read"});
    QCOMPARE(refused.code, 2);
    QVERIFY2(QString::fromUtf8(refused.err).contains(QStringLiteral("отказал в соединении")),
             refused.err.constData());
    stop_process(server);
    stop_process(sim);
}

// Eight controllers each at its unit id, read in one run; a unit nobody
// answers for comes back as the gateway's exception, not as silence.
void TestTcpPort::cli_reads_a_line_of_controllers_over_modbus_tcp()
{
    QProcess sim;
    const SimStart started =
        start_sim(sim, {"--address", "1-8", "--mbtcp", "0", "--gateway-exceptions"});
    QVERIFY2(started.error.isEmpty(), qPrintable(started.error));
    QVERIFY2(started.path.startsWith(QLatin1String("mbtcp://127.0.0.1:")),
             qPrintable(started.path));
    const QString device = started.path;

    const Run r = cli({"read", "--port", device, "--address", "1-8", "--json"});
    QVERIFY2(r.code == 0, r.err.constData());
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 8);
    for (int address = 1; address <= 8; ++address) {
        const QJsonObject o = QJsonDocument::fromJson(lines[address - 1]).object();
        QCOMPARE(o.value("address").toInt(), address);
        const double ia = o.value("ia").toDouble();
        QVERIFY2(qAbs(ia - (1.2 + 0.1 * (address - 1))) < 0.05, lines[address - 1].constData());
    }
    const Run silent = cli({"read", "--port", device, "--address", "9", "--timeout", "1"});
    QCOMPARE(silent.code, 4);
    QVERIFY2(QString::fromUtf8(silent.err)
                 .contains(QStringLiteral("исключение 11: шлюз: устройство не ответило")),
             silent.err.constData());
    stop_process(sim);
}

QTEST_MAIN(TestTcpPort)
#include "tst_tcp_port.moc"
