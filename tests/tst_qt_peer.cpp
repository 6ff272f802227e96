// Our master against a peer we did not write: Qt's own Modbus RTU server. The
// real window with the real serial layer and the server each open the slave
// of a pseudo-terminal; the test joins the two masters like a cable.
// Functions 100 and 101 are not Modbus standard; the server learns their
// frame sizes and keeps a parameter memory of its own for them.

#include "event_wait.h"
#include "frm_main.h"
#include "line_driver.h"
#include "message_box.h"
#include "par_box.h"
#include "par_exchange.h"
#include "param_file.h"
#include "qt_serial_port.h"
#include "window_probe.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLineEdit>
#include <QModbusRtuSerialServer>
#include <QProcess>
#include <QPushButton>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#ifndef Q_OS_WIN
#include "raw_pty.h"

#include <unistd.h>
#endif

namespace {

constexpr auto fn_read = QModbusPdu::FunctionCode(fn_par_read);
constexpr auto fn_write = QModbusPdu::FunctionCode(fn_par_write);
constexpr int memory_first = 257;

// Address high, low, byte count n, then n bytes; a read request stops before them.
int request_size(const QModbusRequest &r)
{
    if (r.functionCode() == fn_read)
        return 3;
    return r.dataSize() < 3 ? -1 : 3 + quint8(r.data().at(2));
}

int response_size(const QModbusResponse &r)
{
    if (r.isException())
        return 1;
    return r.dataSize() < 3 ? -1 : 3 + quint8(r.data().at(2));
}

class ParamServer : public QModbusRtuSerialServer {
public:
    // Nine parameters of widths 1 1 1 2 2 2 2 2 1, all different.
    static QByteArray defaults() { return QByteArray::fromHex("05060704b0007d0bb803e8003201"); }
    QByteArray memory = defaults();

protected:
    QModbusResponse processPrivateRequest(const QModbusPdu &request) override
    {
        const auto fc = request.functionCode();
        if (fc != fn_read && fc != fn_write)
            return QModbusRtuSerialServer::processPrivateRequest(request);
        // The size calculator guarantees the header and, for a write, its n bytes.
        const QByteArray d = request.data();
        const int offset = (quint8(d.at(0)) << 8 | quint8(d.at(1))) - memory_first;
        const int n = quint8(d.at(2));
        if (offset < 0 || n < 1 || offset + n > memory.size())
            return QModbusExceptionResponse(fc, QModbusPdu::IllegalDataAddress);
        if (fc == fn_write)
            memory.replace(offset, n, d.mid(3));
        return QModbusResponse(fc, d.left(3) + memory.mid(offset, n));
    }
};

#ifndef Q_OS_WIN
// Two pseudo-terminals whose masters pass everything across. The test keeps
// the slaves open too, so neither master sees a hang-up while a side is closed.
class Cable {
public:
    Cable()
    {
        for (End &e : m_ends) {
            if (!open_raw_pty(e.master, e.slave, e.path))
                return;
        }
        join(m_ends[0], m_ends[1]);
        join(m_ends[1], m_ends[0]);
    }
    ~Cable()
    {
        for (End &e : m_ends) {
            e.notifier.reset();
            for (int fd : {e.master, e.slave})
                if (fd >= 0)
                    ::close(fd);
        }
    }
    bool ok() const { return !m_ends[0].path.isEmpty() && !m_ends[1].path.isEmpty(); }
    QString path(int end) const { return m_ends[end].path; }

private:
    struct End {
        int master = -1, slave = -1;
        QString path;
        std::unique_ptr<QSocketNotifier> notifier;
    };
    static void join(End &from, const End &to)
    {
        from.notifier = std::make_unique<QSocketNotifier>(from.master, QSocketNotifier::Read);
        QObject::connect(from.notifier.get(), &QSocketNotifier::activated,
                         [in = from.master, out = to.master] {
                             char buf[512];
                             const ssize_t n = ::read(in, buf, sizeof buf);
                             for (ssize_t done = 0; done < n;) {
                                 const ssize_t w = ::write(out, buf + done, size_t(n - done));
                                 if (w <= 0)
                                     break;
                                 done += w;
                             }
                         });
    }
    End m_ends[2];
};
#else
struct Cable {
    bool ok() const { return false; }
    QString path(int) const { return {}; }
};
#endif

} // namespace

class TestQtPeer : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Cable> m_cable;
    std::unique_ptr<ParamServer> m_server;
    std::unique_ptr<FrmMain> m_w;
    QStringList m_boxes_shown;
    QStringList m_statuses; // after each tick

    QLineEdit *box(int i) const
    {
        return m_w->findChild<QLineEdit *>(QStringLiteral("txt_par_%1").arg(i));
    }
    bool all_green() const
    {
        for (int i = 0; i < par_count; ++i)
            if (box(i)->palette().color(QPalette::Base) != QColor(colour_green))
                return false;
        return true;
    }
    QStringList box_texts() const
    {
        QStringList texts;
        for (int i = 0; i < par_count; ++i)
            texts << box(i)->text();
        return texts;
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        for (auto fc : {fn_read, fn_write}) {
            QModbusRequest::registerDataSizeCalculator(fc, request_size);
            QModbusResponse::registerDataSizeCalculator(fc, response_size);
        }
        message_box_fn() = [this](QWidget *, const QString &text, const QString &,
                                  QMessageBox::StandardButtons, QMessageBox::Icon) {
            m_boxes_shown << text;
            return QMessageBox::Cancel;
        };
    }
    void cleanupTestCase() { message_box_fn() = nullptr; }

    // Server and window up, the window polling; a failure here skips the test.
    void init()
    {
        m_boxes_shown.clear();
        m_statuses.clear();
        m_cable = std::make_unique<Cable>();
        if (!m_cable->ok())
            QSKIP("needs POSIX pseudo-terminals");

        m_server = std::make_unique<ParamServer>();
        using D = QModbusDevice;
        m_server->setConnectionParameter(D::SerialPortNameParameter, m_cable->path(0));
        m_server->setConnectionParameter(D::SerialBaudRateParameter, 115200);
        m_server->setConnectionParameter(D::SerialDataBitsParameter, QSerialPort::Data8);
        m_server->setConnectionParameter(D::SerialParityParameter, QSerialPort::NoParity);
        m_server->setConnectionParameter(D::SerialStopBitsParameter, QSerialPort::OneStop);
        m_server->setServerAddress(1);
        QModbusDataUnitMap map;
        map.insert(QModbusDataUnit::HoldingRegisters, {QModbusDataUnit::HoldingRegisters, 200, 10});
        QVERIFY(m_server->setMap(map));
        QVERIFY(m_server->setData({QModbusDataUnit::HoldingRegisters,
                                   200,
                                   {0x1234, 0x0205, 0x010C, 0, 1200, 1201, 1202, 5000, 7, 255}}));
        QVERIFY2(m_server->connectDevice(), qPrintable(m_server->errorString()));

        m_dir = std::make_unique<QTemporaryDir>();
        const QString ini = m_dir->filePath(QStringLiteral("тп.ini"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[PC config]\r\nCOM=5\r\n[Ports]\r\nCOM5=%1\r\n")
                    .arg(m_cable->path(1))
                    .toUtf8());
        f.close();

        m_w = std::make_unique<FrmMain>(std::make_unique<QtSerialPort>(ini), ini);
        connect(LineDriver::timer(m_w->line()), &QTimer::timeout, this,
                [this] { m_statuses << m_w->status(); });
        QVERIFY2(m_w->Form_Load(), qPrintable(m_boxes_shown.join(QStringLiteral(" | "))));
        QCOMPARE(m_w->com_port(), uint8_t(5));
    }
    void cleanup()
    {
        m_w.reset();
        m_server.reset();
        m_cable.reset();
        m_dir.reset();
    }

    void default_poll_shows_the_registers()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_w->status(), text_connected, event_wait_ms);
        QTRY_COMPARE_WITH_TIMEOUT(caption(m_w.get(), Caption::fr), QStringLiteral("50 "),
                                  event_wait_ms);
        const std::pair<Caption, const char *> shown[] = {
            {Caption::pr_ver, "2 .05 "}, {Caption::sw_ver, "1 .12 "}, {Caption::phAI, "1.2 "},
            {Caption::phBI, "1.201 "},   {Caption::phCI, "1.202 "},   {Caption::fr, "50 "},
            {Caption::ain_0, "7 "},      {Caption::ain_1, "255 "}};
        for (const auto &[which, text] : shown)
            QCOMPARE(caption(m_w.get(), which), QString::fromUtf8(text));

        // Every poll is read afresh.
        QVERIFY(m_server->setData(QModbusDataUnit::HoldingRegisters, 207, 4990));
        QVERIFY(m_server->setData(QModbusDataUnit::HoldingRegisters, 205, 0));
        QTRY_COMPARE_WITH_TIMEOUT(caption(m_w.get(), Caption::fr), QStringLiteral("49.9 "),
                                  event_wait_ms);
        QCOMPARE(caption(m_w.get(), Caption::phBI), QStringLiteral("0 "));
        QCOMPARE(caption(m_w.get(), Caption::phAI), QStringLiteral("1.2 "));
    }

    // Qt builds the exception reply itself when the poll reaches past its map.
    void server_exception_code_is_appended_to_the_status()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_w->status(), text_connected, event_wait_ms);
        QModbusDataUnitMap map;
        map.insert(QModbusDataUnit::HoldingRegisters, {QModbusDataUnit::HoldingRegisters, 200, 5});
        QVERIFY(m_server->setMap(map));
        m_statuses.clear();
        const QString expected = text_connected + QStringLiteral(" Нарушение протокола, код: 2");
        QTRY_VERIFY_WITH_TIMEOUT(m_statuses.contains(expected), event_wait_ms);
    }

    void start_up_reads_fill_the_boxes_green()
    {
        QTRY_VERIFY_WITH_TIMEOUT(all_green(), event_wait_ms);
        QCOMPARE(box_texts(),
                 (QStringList{"5 ", "6 ", "7 ", "1.2 ", "12.5 ", "3 ", "100 ", "0.05 ", "1 "}));
        QCOMPARE(m_server->memory, ParamServer::defaults());
    }

    void enter_writes_one_parameter()
    {
        QTRY_VERIFY_WITH_TIMEOUT(all_green(), event_wait_ms);
        QLineEdit *edit = box(4);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("30,5"));
        QTest::keyClick(edit, Qt::Key_Return);
        QByteArray expected = ParamServer::defaults();
        expected[5] = 0x01;
        expected[6] = 0x31;
        QTRY_COMPARE_WITH_TIMEOUT(m_server->memory, expected, event_wait_ms);
        // The reply to the write carries the written value back into the box.
        QTRY_VERIFY_WITH_TIMEOUT(all_green(), event_wait_ms);
        QCOMPARE(edit->text(), QStringLiteral("30.5 "));
        QCOMPARE(box(3)->text(), QStringLiteral("1.2 "));
        QCOMPARE(box(5)->text(), QStringLiteral("3 "));
    }

    // Write-all sends the boxes as they are: memory changed behind the
    // window's back gets back exactly what was read.
    void write_all_restores_what_was_read()
    {
        QTRY_VERIFY_WITH_TIMEOUT(all_green(), event_wait_ms);
        const QStringList read = box_texts();
        m_server->memory.fill('\xAA');
        m_w->findChild<QPushButton *>(QStringLiteral("cmd_writeall"))->click();
        QVERIFY(!all_green());
        QTRY_COMPARE_WITH_TIMEOUT(m_server->memory, ParamServer::defaults(), event_wait_ms);
        QTRY_VERIFY_WITH_TIMEOUT(all_green(), event_wait_ms);
        QCOMPARE(box_texts(), read);
    }

    // rzt604-cli against the same peer: the file it gets holds the server's
    // memory, and a changed file set with --verify ends up there.
    void cli_gets_and_sets_the_parameters()
    {
        m_w.reset(); // one master on the line
        ParTable table;
        par_table_init(table);
        const QString got_path = m_dir->filePath(QStringLiteral("got.json"));
        QCOMPARE(run_cli({"--port", m_cable->path(1), "params", "get", got_path}), 0);
        const ParamFileRead got = load_param_file(got_path, table);
        QVERIFY2(got.file, qPrintable(got.error));
        QCOMPARE(got.file->raws, (ParRaws{5, 6, 7, 1200, 125, 3000, 1000, 50, 1}));

        ParamFile changed = *got.file;
        changed.raws[4] = 305;
        const QString set_path = m_dir->filePath(QStringLiteral("set.json"));
        QCOMPARE(save_param_file(set_path, table, changed), QString());
        QCOMPARE(run_cli({"--port", m_cable->path(1), "params", "set", set_path, "--verify"}), 0);
        QByteArray expected = ParamServer::defaults();
        expected[5] = 0x01;
        expected[6] = 0x31;
        QCOMPARE(m_server->memory, expected);
    }

private:
    // The tool runs while this process serves the line, so wait with events.
    int run_cli(const QStringList &args)
    {
        QProcess cli;
        cli.start(QStringLiteral(CLI_PATH), args);
        if (!cli.waitForStarted(event_wait_ms))
            return -1;
        QDeadlineTimer deadline(event_wait_ms);
        while (cli.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(20);
        if (cli.exitCode() != 0)
            qWarning("%s", cli.readAllStandardError().constData());
        return cli.exitCode();
    }
};

QTEST_MAIN(TestQtPeer)
#include "tst_qt_peer.moc"
