// The MQTT publisher against Debian's own broker on a loopback port, with
// mosquitto_sub as the subscriber: what arrives, what a later subscriber
// finds retained, the will only for a publisher that died, a broker killed
// and restarted, TLS. The options and the queue's policy without a broker.

#include "event_wait.h"
#include "mqtt_publisher.h"
#include "mqtt_settings.h"
#include "outbox.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// The publisher tries a broker that went away again after at most this long.
constexpr int max_backoff_ms = 30000;

QString find_program(const QString &name)
{
    return QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/local/sbin", "/usr/bin"});
}

int free_port()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

bool write_file(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A process whose output is kept line by line.
class Lines : public QProcess {
public:
    QStringList lines;
    Lines()
    {
        setProcessChannelMode(QProcess::MergedChannels);
        connect(this, &QProcess::readyRead, this, [this] {
            while (canReadLine())
                lines << QString::fromUtf8(readLine()).trimmed();
        });
    }
    ~Lines() override { end(); }
    void end()
    {
        if (state() != QProcess::NotRunning) {
            kill();
            waitForFinished(event_wait_ms);
        }
    }
    bool has(const QString &line) const { return lines.contains(line); }
    bool has_part(const QString &part) const { return lines.join('\n').contains(part); }
};

// mosquitto on 127.0.0.1, without persistence, logging every packet.
class Broker {
public:
    int port = free_port();
    int tls_port = 0;
    Lines process;

    explicit Broker(const QString &dir) : m_dir(dir), m_conf(dir + "/mosquitto.conf") {}
    // A second listener with TLS, for certificates made by make_certificates.
    void add_tls(const QString &dir) { m_tls_dir = dir, tls_port = free_port(); }
    // Only this user with this password is let in.
    bool require_login(const QString &user, const QString &password)
    {
        m_passwords = m_dir + "/passwords";
        return QProcess::execute(find_program("mosquitto_passwd"),
                                 {"-c", "-b", m_passwords, user, password}) == 0;
    }
    bool start()
    {
        QByteArray conf = "per_listener_settings false\npersistence false\n"
                          "log_dest stderr\nlog_type all\n"
                          // root would otherwise drop to the mosquitto user, who
                          // cannot read the test's folder
                          "user root\n";
        conf += m_passwords.isEmpty()
                    ? QByteArray("allow_anonymous true\n")
                    : "allow_anonymous false\npassword_file " + m_passwords.toUtf8() + "\n";
        conf += QStringLiteral("listener %1 127.0.0.1\n").arg(port).toUtf8();
        if (tls_port)
            conf += QStringLiteral("listener %1 127.0.0.1\ncafile %2/ca.pem\n"
                                   "certfile %2/server.pem\nkeyfile %2/server.key\n")
                        .arg(tls_port)
                        .arg(m_tls_dir)
                        .toUtf8();
        process.lines.clear();
        if (!write_file(m_conf, conf))
            return false;
        process.start(find_program("mosquitto"), {"-c", m_conf});
        return QTest::qWaitFor([this] { return process.has_part(" running"); }, event_wait_ms);
    }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port); }

private:
    QString m_dir;
    QString m_conf;
    QString m_tls_dir;
    QString m_passwords;
};

// A name that resolves to an address where no broker listens first: ::1
// where the broker is on 127.0.0.1 only, as "localhost" does on hosts that
// list ::1 first.
class TwoAddressPublisher : public MqttPublisher {
public:
    using MqttPublisher::MqttPublisher;

protected:
    void look_up() override
    {
        addresses_found({QHostAddress(QHostAddress::LocalHostIPv6), QHostAddress::LocalHost});
    }
};

// mosquitto_sub printing "RETAIN TOPIC PAYLOAD" a line. It flushes only
// with a message, so the broker's log says when it has subscribed.
bool subscribe(Lines &sub, Broker &broker, const QString &topic)
{
    const auto subacks = [&] { return broker.process.lines.filter("Sending SUBACK").size(); };
    const qsizetype before = subacks();
    sub.start(find_program("mosquitto_sub"), {"-h", "127.0.0.1", "-p", QString::number(broker.port),
                                              "-t", topic, "-F", "%r %t %p"});
    return QTest::qWaitFor([&] { return subacks() > before; }, event_wait_ms);
}

MqttSettings settings_for(const QString &url)
{
    MqttOptions typed;
    typed.url = url;
    typed.id = QStringLiteral("tst-publish");
    return mqtt_settings(typed).settings;
}

// A CA and a certificate for "localhost" signed by it, into dir.
bool make_certificates(const QString &dir)
{
    const QString ec = QStringLiteral("ec:") + dir + "/params.pem";
    const QList<QStringList> steps = {
        {"ecparam", "-name", "prime256v1", "-out", dir + "/params.pem"},
        {"req", "-x509", "-newkey", ec, "-nodes", "-keyout", dir + "/ca.key", "-out",
         dir + "/ca.pem", "-days", "2", "-subj", "/CN=rzt604 test CA"},
        {"req", "-newkey", ec, "-nodes", "-keyout", dir + "/server.key", "-out",
         dir + "/server.csr", "-subj", "/CN=localhost"},
        {"x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.pem", "-CAkey",
         dir + "/ca.key", "-CAcreateserial", "-out", dir + "/server.pem", "-days", "2", "-extfile",
         dir + "/san.cnf"},
    };
    write_file(dir + "/san.cnf", "subjectAltName=DNS:localhost\n");
    for (const QStringList &args : steps) {
        QProcess p;
        p.start(find_program("openssl"), args);
        if (!p.waitForFinished(event_wait_ms) || p.exitCode() != 0)
            return false;
    }
    return true;
}

} // namespace

class TestPublish : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init();
    void cleanup() { m_dir.reset(); }

    void typed_options_data();
    void typed_options();
    void outbox_keeps_latest_retained_and_newest_measurements();

    void messages_arrive_and_retained_wait_for_later_subscribers();
    void will_only_when_the_publisher_dies_data();
    void will_only_when_the_publisher_dies();
    void broker_restart_is_survived_with_nothing_lost();
    void tls_through_the_event_loop();
    void tls_with_the_system_store_survives_a_broker_restart();
    void every_address_of_a_name_is_tried_data();
    void every_address_of_a_name_is_tried();
    void a_line_of_controllers_published_until_the_end();
    void publish_says_when_it_cannot_do_its_job_data();
    void publish_says_when_it_cannot_do_its_job();
};

void TestPublish::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The folder is read by the broker, possibly as another user.
    QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                             QFile::ReadOther | QFile::ExeOther);
    const QString test = QTest::currentTestFunction();
    if (!test.startsWith(QLatin1String("typed")) && !test.startsWith(QLatin1String("outbox")) &&
        (find_program("mosquitto").isEmpty() || find_program("mosquitto_sub").isEmpty()))
        QSKIP("mosquitto or mosquitto_sub is not installed (scripts/deps installs mosquitto "
              "and mosquitto-clients)");
}

void TestPublish::typed_options_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("want"); // the settings' URL and host, or a part of the error

    const QString file = QFINDTESTDATA("tst_publish.cpp");
    QTest::newRow("default port") << "mqtt://broker"
                                  << ""
                                  << ""
                                  << "mqtt://broker:1883 broker";
    QTest::newRow("tls port") << "mqtts://broker"
                              << ""
                              << ""
                              << "mqtts://broker:8883 broker";
    QTest::newRow("ipv6") << "mqtt://[::1]:1884/"
                          << ""
                          << ""
                          << "mqtt://[::1]:1884 ::1";
    QTest::newRow("no scheme") << "broker:1883"
                               << ""
                               << ""
                               << "не понят";
    QTest::newRow("port too big") << "mqtt://broker:70000"
                                  << ""
                                  << ""
                                  << "вне диапазона";
    QTest::newRow("port zero") << "mqtt://broker:0"
                               << ""
                               << ""
                               << "вне диапазона";
    QTest::newRow("tls file, plain url") << "mqtt://b"
                                         << "cafile" << file << "mqtts://";
    QTest::newRow("missing cafile") << "mqtts://b"
                                    << "cafile"
                                    << "/nowhere/ca.pem"
                                    << "не найден";
    QTest::newRow("cert, no key") << "mqtts://b"
                                  << "cert" << file << "вместе";
    QTest::newRow("password, no user") << "mqtt://b"
                                       << "pw"
                                       << "secret"
                                       << "без имени";
    QTest::newRow("qos 3") << "mqtt://b"
                           << "qos"
                           << "3"
                           << "--qos";
    QTest::newRow("keepalive 2") << "mqtt://b"
                                 << "keepalive"
                                 << "2"
                                 << "--keepalive";
}

void TestPublish::typed_options()
{
    QFETCH(QString, url);
    QFETCH(QString, option);
    QFETCH(QString, value);
    QFETCH(QString, want);
    MqttOptions typed;
    typed.url = url;
    (option == "cafile" ? typed.cafile
     : option == "cert" ? typed.cert
     : option == "pw"   ? typed.password
     : option == "qos"  ? typed.qos
                        : typed.keepalive) = value;
    const MqttSettingsResult r = mqtt_settings(typed);
    const QString got = r.error.isEmpty() ? r.settings.url + ' ' + r.settings.host : r.error;
    QVERIFY2(got.contains(want), qPrintable(got + " lacks " + want));
}

void TestPublish::outbox_keeps_latest_retained_and_newest_measurements()
{
    Outbox box(3);
    box.add({"r/1/status", "online", true});
    for (int i = 1; i <= 5; ++i)
        box.add({"r/1/measurement", QByteArray::number(i), false});
    box.add({"r/1/status", "offline", true});

    QCOMPARE(box.take_dropped(), 2);
    QByteArrayList kept;
    for (const MqttMessage &m : box.take_waiting())
        kept << m.payload;
    QCOMPARE(kept, QByteArrayList({"3", "4", "5"}));
    QCOMPARE(box.retained().size(), 1);
    QCOMPARE(box.retained().first().payload, QByteArray("offline"));
}

void TestPublish::messages_arrive_and_retained_wait_for_later_subscribers()
{
    Broker broker(m_dir->path());
    QVERIFY(broker.start());
    Lines early;
    QVERIFY(subscribe(early, broker, "r/#"));
    MqttPublisher publisher(settings_for(broker.url()));
    QSignalSpy connected(&publisher, &MqttPublisher::connected);
    publisher.start();
    QVERIFY(connected.wait(event_wait_ms));

    QVERIFY(publisher.publish("r/5/measurement", R"({"ia":1.2})", false));
    QVERIFY(publisher.publish("r/5/status", "online", true));
    QTRY_VERIFY_WITH_TIMEOUT(early.has("0 r/5/measurement {\"ia\":1.2}"), event_wait_ms);
    QTRY_VERIFY_WITH_TIMEOUT(early.has("0 r/5/status online"), event_wait_ms);

    Lines late;
    QVERIFY(subscribe(late, broker, "r/#"));
    QTRY_VERIFY_WITH_TIMEOUT(late.has("1 r/5/status online"), event_wait_ms);
    QVERIFY(!late.has_part("measurement"));
    QVERIFY(!publisher.publish("r/+/status", "x", true));
    // libmosquitto would drop it when sending: refused here, where it is said.
    QVERIFY(!publisher.publish("r/\t/status", "x", true));
}

void TestPublish::will_only_when_the_publisher_dies_data()
{
    QTest::addColumn<bool>("killed");
    QTest::addColumn<QString>("qos");
    QTest::newRow("killed") << true << "1";
    QTest::newRow("stopped") << false << "1";
    // Written at once, so acknowledged from inside the publish call.
    QTest::newRow("stopped, qos 0") << false << "0";
}

void TestPublish::will_only_when_the_publisher_dies()
{
    QFETCH(bool, killed);
    QFETCH(QString, qos);
    Broker broker(m_dir->path());
    QVERIFY(broker.start());
    Lines sub;
    QVERIFY(subscribe(sub, broker, "r/#"));
    Lines child;
    child.start(QStringLiteral(CHILD_PATH), {QString::number(broker.port), "r/7/status", qos});
    QTRY_VERIFY_WITH_TIMEOUT(child.has("connected"), event_wait_ms);
    QTRY_VERIFY_WITH_TIMEOUT(sub.has("0 r/7/status online"), event_wait_ms);

    if (killed) {
        child.kill();
        QTRY_VERIFY_WITH_TIMEOUT(sub.has("0 r/7/status dead"), event_wait_ms);
        return;
    }
    child.write("stop\n");
    QVERIFY(child.waitForFinished(event_wait_ms));
    QCOMPARE(child.exitCode(), 0);
    // The will would come as the connection closes, long before a message
    // from a client started after the publisher ended.
    QCOMPARE(QProcess::execute(find_program("mosquitto_pub"),
                               {"-h", "127.0.0.1", "-p", QString::number(broker.port), "-t",
                                "r/marker", "-m", "after"}),
             0);
    QTRY_VERIFY_WITH_TIMEOUT(sub.has("0 r/marker after"), event_wait_ms);
    QVERIFY2(sub.has("0 r/7/status offline"), qPrintable(sub.lines.join('\n')));
    QVERIFY2(!sub.has("0 r/7/status dead"), qPrintable(sub.lines.join('\n')));
}

void TestPublish::broker_restart_is_survived_with_nothing_lost()
{
    Broker broker(m_dir->path());
    QVERIFY(broker.start());
    MqttPublisher publisher(settings_for(broker.url()));
    QStringList notices;
    connect(&publisher, &MqttPublisher::notice, this, [&](const QString &t) { notices << t; });
    QSignalSpy connected(&publisher, &MqttPublisher::connected);
    QSignalSpy disconnected(&publisher, &MqttPublisher::disconnected);
    publisher.start();
    QVERIFY(connected.wait(event_wait_ms));
    publisher.publish("r/1/status", "online", true);
    QTRY_COMPARE_WITH_TIMEOUT(publisher.in_flight(), 0, event_wait_ms);

    broker.process.kill();
    QVERIFY(disconnected.wait(event_wait_ms));
    QCOMPARE(notices.value(0),
             "брокер " + broker.url() + " недоступен: соединение разорвано, повтор через 1 с");
    // Measurements and parameters while the broker is away.
    publisher.publish("r/1/q1", "1", false);
    publisher.publish("r/1/q2", "2", false);
    publisher.publish("r/1/parameters", "{}", true);
    QCOMPARE(publisher.waiting(), 2);

    broker.process.waitForFinished(event_wait_ms);
    QVERIFY(broker.start());
    QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 2, max_backoff_ms + event_wait_ms);
    QVERIFY2(notices.last().contains("восстановлено, отправлено ожидавших сообщений: 3"),
             qPrintable(notices.join('\n')));
    // Sent before any subscriber of this broker could be there: its log shows them, in order.
    QTRY_VERIFY_WITH_TIMEOUT(broker.process.has_part("'r/1/q2'"), event_wait_ms);
    const QString log = broker.process.lines.join('\n');
    QVERIFY(log.indexOf("'r/1/q1'") < log.indexOf("'r/1/q2'"));

    // The status too, though it was published to the broker that died with it.
    Lines sub;
    QVERIFY(subscribe(sub, broker, "r/#"));
    QTRY_VERIFY_WITH_TIMEOUT(sub.has("1 r/1/status online"), event_wait_ms);
    QTRY_VERIFY_WITH_TIMEOUT(sub.has("1 r/1/parameters {}"), event_wait_ms);
    publisher.publish("r/1/measurement", "later", false);
    QTRY_VERIFY_WITH_TIMEOUT(sub.has("0 r/1/measurement later"), event_wait_ms);

    // Everything acknowledged after the reconnection: the stop owes nothing.
    QSignalSpy stopped(&publisher, &MqttPublisher::stopped);
    publisher.stop();
    QVERIFY(stopped.wait(event_wait_ms));
    QVERIFY2(!notices.join('\n').contains("не получил"), qPrintable(notices.join('\n')));
}

void TestPublish::tls_through_the_event_loop()
{
    if (find_program("openssl").isEmpty())
        QSKIP("openssl is not installed (scripts/deps installs it)");
    QVERIFY(make_certificates(m_dir->path()));
    Broker broker(m_dir->path());
    broker.add_tls(m_dir->path());
    QVERIFY(broker.start());
    Lines sub;
    QVERIFY(subscribe(sub, broker, "r/#"));

    MqttOptions typed;
    typed.url = QStringLiteral("mqtts://localhost:%1").arg(broker.tls_port);
    typed.cafile = m_dir->filePath("ca.pem");
    MqttPublisher trusted(mqtt_settings(typed).settings);
    QSignalSpy connected(&trusted, &MqttPublisher::connected);
    trusted.start();
    QVERIFY(connected.wait(event_wait_ms));
    trusted.publish("r/2/measurement", "over tls", false);
    QTRY_VERIFY_WITH_TIMEOUT(sub.has("0 r/2/measurement over tls"), event_wait_ms);

    // The system's certificate authorities do not know the test's CA: a
    // refusal that retrying cannot mend, not a broker away.
    typed.cafile.clear();
    MqttPublisher stranger(mqtt_settings(typed).settings);
    QSignalSpy notice(&stranger, &MqttPublisher::notice);
    QSignalSpy refused(&stranger, &MqttPublisher::refused);
    QSignalSpy stopped(&stranger, &MqttPublisher::stopped);
    stranger.start();
    QVERIFY(stopped.wait(event_wait_ms));
    QCOMPARE(refused.size(), 1);
    const QString text = notice.first().first().toString();
    QVERIFY2(text.contains("не принял подключение") && text.contains("--cafile"), qPrintable(text));
    QVERIFY(!stranger.ever_connected());
}

// libmosquitto 2.0.11 refused every reconnection made with the system's
// certificates ("invalid function arguments"). SSL_CERT_FILE makes the
// test's CA the system's store, as OpenSSL reads it.
void TestPublish::tls_with_the_system_store_survives_a_broker_restart()
{
    if (find_program("openssl").isEmpty())
        QSKIP("openssl is not installed (scripts/deps installs it)");
    QVERIFY(make_certificates(m_dir->path()));
    Broker broker(m_dir->path());
    broker.add_tls(m_dir->path());
    QVERIFY(broker.start());
    qputenv("SSL_CERT_FILE", QFile::encodeName(m_dir->filePath("ca.pem")));
    const auto restore = qScopeGuard([] { qunsetenv("SSL_CERT_FILE"); });
    MqttPublisher publisher(
        settings_for(QStringLiteral("mqtts://localhost:%1").arg(broker.tls_port)));
    QSignalSpy connected(&publisher, &MqttPublisher::connected);
    QSignalSpy disconnected(&publisher, &MqttPublisher::disconnected);
    publisher.start();
    QVERIFY(connected.wait(event_wait_ms));

    broker.process.kill();
    QVERIFY(disconnected.wait(event_wait_ms));
    publisher.publish("r/3/measurement", "meanwhile", false);
    broker.process.waitForFinished(event_wait_ms);
    QVERIFY(broker.start());
    QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 2, max_backoff_ms + event_wait_ms);
    QTRY_VERIFY_WITH_TIMEOUT(broker.process.has_part("'r/3/measurement'"), event_wait_ms);
}

void TestPublish::every_address_of_a_name_is_tried_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("stand_in"); // ::1, then 127.0.0.1
    QTest::newRow("localhost, as resolved here") << false << false;
    QTest::newRow("::1 first") << false << true;
    // The certificate names localhost: checked against the name, not the address.
    QTest::newRow("::1 first, TLS") << true << true;
}

// The broker listens on 127.0.0.1 only; mosquitto_pub -h localhost reaches it
// wherever ::1 comes first, and so must the publisher.
void TestPublish::every_address_of_a_name_is_tried()
{
    QFETCH(bool, tls);
    QFETCH(bool, stand_in);
    if (tls && (find_program("openssl").isEmpty() || !make_certificates(m_dir->path())))
        QSKIP("openssl is not installed (scripts/deps installs it)");
    Broker broker(m_dir->path());
    if (tls)
        broker.add_tls(m_dir->path());
    QVERIFY(broker.start());
    MqttOptions typed;
    typed.url = tls ? QStringLiteral("mqtts://localhost:%1").arg(broker.tls_port)
                    : QStringLiteral("mqtt://localhost:%1").arg(broker.port);
    if (tls)
        typed.cafile = m_dir->filePath("ca.pem");
    const MqttSettings settings = mqtt_settings(typed).settings;
    std::unique_ptr<MqttPublisher> publisher = stand_in
                                                   ? std::make_unique<TwoAddressPublisher>(settings)
                                                   : std::make_unique<MqttPublisher>(settings);
    QStringList notices;
    connect(publisher.get(), &MqttPublisher::notice, this, [&](const QString &t) { notices << t; });
    QSignalSpy connected(publisher.get(), &MqttPublisher::connected);
    publisher->start();
    QVERIFY2(connected.wait(event_wait_ms), qPrintable(notices.join('\n')));
    // Within the first round: no failure was worth a word.
    QVERIFY2(notices.isEmpty(), qPrintable(notices.join('\n')));
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"

// rzt604-cli publish with two controllers on one simulated line: each one's
// measurements and parameters under its own address, and a status that is
// online while it answers and offline, retained, once the publisher ends.
void TestPublish::a_line_of_controllers_published_until_the_end()
{
    Broker broker(m_dir->path());
    QVERIFY(broker.start());
    Lines sub;
    QVERIFY(subscribe(sub, broker, "site/#"));
    const QString symlink = m_dir->filePath("ttyRZT");
    Lines sim;
    sim.start(QStringLiteral(SIM_PATH), {"--address", "1,2", "--link", symlink, "--memory",
                                         m_dir->filePath("mem-{address}.bin")});
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(symlink); }, event_wait_ms));

    QProcess cli;
    cli.start(QStringLiteral(CLI_PATH), {"--port", symlink, "--address", "1,2", "publish", "--mqtt",
                                         broker.url(), "--topic", "site", "--duration", "3"});
    QVERIFY(cli.waitForFinished(event_wait_ms));
    QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());

    for (const QString address : {"1", "2"}) {
        const QString at = "0 site/" + address + "/";
        QVERIFY(QTest::qWaitFor([&] { return sub.has(at + "status offline"); }, event_wait_ms));
        const QStringList measurements = sub.lines.filter(at + "measurement ");
        QVERIFY2(measurements.size() >= 3, qPrintable(sub.lines.join('\n')));
        QVERIFY(measurements[0].contains("\"address\":" + address));
        QVERIFY(measurements[0].contains("\"ia\":"));
        QVERIFY(
            measurements[0].contains(QRegularExpression(R"("time":"[-0-9T:.]+[+-]\d\d:\d\d")")));
        QVERIFY(sub.has(at + "status online"));
        QVERIFY(sub.has_part(at + "parameters {"));
        // Online came before the end, offline after it.
        QVERIFY(sub.lines.indexOf(at + "status online") < sub.lines.indexOf(at + "status offline"));
    }
    // A subscriber that comes later finds each status retained as offline.
    Lines later;
    later.start(find_program("mosquitto_sub"),
                {"-h", "127.0.0.1", "-p", QString::number(broker.port), "-t", "site/+/status", "-F",
                 "%r %t %p", "-C", "2"});
    QVERIFY(later.waitForFinished(event_wait_ms));
    QCOMPARE(later.lines.size(), 2);
    QVERIFY(later.has("1 site/1/status offline") && later.has("1 site/2/status offline"));
}

void TestPublish::publish_says_when_it_cannot_do_its_job_data()
{
    QTest::addColumn<QString>("problem");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // a part of standard error
    QTest::newRow("wrong password") << "password" << 7 << "проверьте --username и пароль";
    // With "/1/measurement" the topic passes MQTT's 65,535 bytes.
    QTest::newRow("prefix too long") << "prefix" << 1 << "--topic";
    QTest::newRow("no broker") << "no broker" << 6 << "так и не был доступен";
}

// A run that could not publish must not end as if it had.
void TestPublish::publish_says_when_it_cannot_do_its_job()
{
    QFETCH(QString, problem);
    QFETCH(int, code);
    QFETCH(QString, said);
    Broker broker(m_dir->path());
    QVERIFY(broker.require_login("board3", "right"));
    if (problem != "no broker")
        QVERIFY(broker.start());
    const QString symlink = m_dir->filePath("ttyRZT");
    Lines sim;
    sim.start(QStringLiteral(SIM_PATH),
              {"--link", symlink, "--memory", m_dir->filePath("mem.bin")});
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(symlink); }, event_wait_ms));

    QStringList args = {"--port",     symlink,      "publish",
                        "--mqtt",     broker.url(), "-u",
                        "board3",     "-P",         problem == "password" ? "wrong" : "right",
                        "--duration", "2"};
    if (problem == "prefix")
        args << "--topic" << QString(65525, QLatin1Char('p'));
    QProcess cli;
    cli.start(QStringLiteral(CLI_PATH), args);
    QVERIFY(cli.waitForFinished(event_wait_ms));
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitCode(), code);
    QVERIFY2(err.contains(said), qPrintable(err));
    QVERIFY2(!broker.process.has_part("Received PUBLISH"), qPrintable(err));
}
