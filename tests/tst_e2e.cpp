// The real window and serial layer against rzt604-sim on a pseudo-terminal,
// driven by the real polling timer: start-up, writing back, Enter in a box,
// the line faults the simulator can inject and exception replies.

#include "demo_session.h"
#include "event_wait.h"
#include "frm_main.h"
#include "line_driver.h"
#include "message_box.h"
#include "modbus.h"
#include "par_box.h"
#include "qt_serial_port.h"
#include "serial_port_factory.h"
#include "sim_window.h"
#include "window_probe.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <signal.h>

namespace {

const QByteArray default_memory = QByteArray::fromHex("6464641388007d4e2003e8000000");
const QStringList default_texts = {"100 ", "100 ", "100 ", "5 ", "12.5 ",
                                   "20 ",  "100 ", "0 ",   "0 "};

} // namespace

class TestEndToEnd : public SimWindowTest {
    Q_OBJECT

    QLineEdit *box(int i) const
    {
        return m_win->findChild<QLineEdit *>(QStringLiteral("txt_par_%1").arg(i));
    }
    bool green(int i) const
    {
        return box(i)->palette().color(QPalette::Base) == QColor(colour_green);
    }
    bool all_green(const QStringList &texts) const
    {
        for (int i = 0; i < par_count; ++i) {
            if (!green(i) || box(i)->text() != texts[i])
                return false;
        }
        return true;
    }
    bool any_green() const
    {
        for (int i = 0; i < par_count; ++i) {
            if (green(i))
                return true;
        }
        return false;
    }
    // Everything the operator asked for has been answered.
    bool only_polls() const
    {
        const RequestRing &ring = LineDriver::ring(m_win->line());
        for (int k = 0; k < ring.pending(); ++k) {
            if (ring.req_queue[size_t((ring.req_read_idx + k) % ring_slots)][1] != 3)
                return false;
        }
        return true;
    }
    QByteArray memory() const
    {
        QFile f(m_dir->filePath(QStringLiteral("memory.bin")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void click(const char *name)
    {
        m_win->findChild<QPushButton *>(QString::fromLatin1(name))->click();
    }
    void type(int i, const QString &text)
    {
        box(i)->clear();
        QTest::keyClicks(box(i), text);
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void init();
    void cleanup();

    void startup_reads_all_parameters_and_live_values();
    void write_all_and_enter_write_the_boxes();
    void persistent_fault_repeats_the_head_request_data();
    void persistent_fault_repeats_the_head_request();
    void split_replies_fail_the_exchange();
    void intermittent_faults_lose_nothing_data();
    void intermittent_faults_lose_nothing();
    void exception_reply_is_reported_and_removes_the_request();
    void written_means_read_back();
    void demo_shows_live_values_and_leaves_nothing();
};

void TestEndToEnd::init()
{
    catch_boxes();
}

void TestEndToEnd::cleanup()
{
    const bool boxes = !m_boxes_shown.isEmpty();
    const QString first = boxes ? m_boxes_shown.first() : QString();
    stop_all();
    QVERIFY2(!boxes, qPrintable(first));
}

void TestEndToEnd::startup_reads_all_parameters_and_live_values()
{
    QVERIFY2(start({}), qPrintable(m_start_error));
    QTRY_VERIFY_WITH_TIMEOUT(all_green(default_texts), event_wait_ms);
    QTRY_COMPARE_WITH_TIMEOUT(caption(m_win.get(), Caption::sw_ver), QStringLiteral("1 .12 "),
                              event_wait_ms);
    QCOMPARE(caption(m_win.get(), Caption::pr_ver), QStringLiteral("2 .05 "));
    QCOMPARE(m_win->status(), text_connected);
    for (Caption c : {Caption::phAI, Caption::phBI, Caption::phCI}) {
        const QString text = caption(m_win.get(), c);
        QVERIFY2(text.endsWith(QLatin1Char(' ')), qPrintable(text));
        const double amps = text.toDouble();
        QVERIFY2(amps > 1.0 && amps < 1.4, qPrintable(text));
    }
    const double hz = caption(m_win.get(), Caption::fr).toDouble();
    QVERIFY2(hz > 49 && hz < 51, qPrintable(caption(m_win.get(), Caption::fr)));
}

void TestEndToEnd::write_all_and_enter_write_the_boxes()
{
    QVERIFY2(start({}), qPrintable(m_start_error));
    QTRY_VERIFY_WITH_TIMEOUT(all_green(default_texts), event_wait_ms);

    click("cmd_writeall");
    QVERIFY(!any_green());
    QTRY_VERIFY_WITH_TIMEOUT(all_green(default_texts) && only_polls(), event_wait_ms);
    QCOMPARE(memory(), default_memory);

    type(4, QStringLiteral("30,5"));
    QVERIFY(!green(4));
    QTest::keyClick(box(4), Qt::Key_Return);
    QStringList expected = default_texts;
    expected[4] = QStringLiteral("30.5 ");
    QTRY_VERIFY_WITH_TIMEOUT(all_green(expected) && only_polls(), event_wait_ms);
    QByteArray changed = default_memory;
    changed[262 - 257] = 0x01;
    changed[263 - 257] = 0x31;
    QCOMPARE(memory().toHex(' '), changed.toHex(' '));
}

void TestEndToEnd::persistent_fault_repeats_the_head_request_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("text");
    QTest::newRow("corrupt") << QStringList{"--corrupt", "1"} << text_crc_mismatch;
    QTest::newRow("drop") << QStringList{"--drop", "1"} << text_no_answer;
}

void TestEndToEnd::persistent_fault_repeats_the_head_request()
{
    QFETCH(QStringList, options);
    QFETCH(QString, text);
    QVERIFY2(start(options), qPrintable(m_start_error));
    const int queued = LineDriver::ring(m_win->line()).pending();
    QTRY_COMPARE_WITH_TIMEOUT(m_win->status(), text, event_wait_ms);
    QStringList requests;
    QTRY_VERIFY_WITH_TIMEOUT((requests += sim_requests(*m_sim)).size() >= 4, event_wait_ms);
    QCOMPARE(m_win->status(), text);
    QCOMPARE(requests.count(requests.first()), requests.size());
    QVERIFY2(requests.first().startsWith(QLatin1String("01 64 01 01 05")),
             qPrintable(requests.first()));
    QCOMPARE(LineDriver::ring(m_win->line()).pending(), queued);
    QVERIFY(!any_green());
}

void TestEndToEnd::split_replies_fail_the_exchange()
{
    // The parts of one reply land in different ticks, so the exchange fails
    // and the head goes out again (the rest of one reply and the start of
    // the next can happen to form a whole frame, so no more is promised).
    QVERIFY2(start({"--split", "1"}), qPrintable(m_start_error));
    QTRY_COMPARE_WITH_TIMEOUT(m_win->status(), text_crc_mismatch, event_wait_ms);
    QStringList requests;
    QTRY_VERIFY_WITH_TIMEOUT((requests += sim_requests(*m_sim)).size() >= 2, event_wait_ms);
    QVERIFY2(requests[0].startsWith(QLatin1String("01 64 01 01 05")), qPrintable(requests[0]));
    QCOMPARE(requests[1], requests[0]);
}

void TestEndToEnd::intermittent_faults_lose_nothing_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("drop") << QStringList{"--drop", "0.3", "--seed", "11"};
    QTest::newRow("corrupt") << QStringList{"--corrupt", "0.3", "--seed", "12"};
    QTest::newRow("split") << QStringList{"--split", "0.3", "--seed", "13"};
    QTest::newRow("garbage") << QStringList{"--garbage", "500", "--seed", "14"};
}

void TestEndToEnd::intermittent_faults_lose_nothing()
{
    QFETCH(QStringList, options);
    QVERIFY2(start(options), qPrintable(m_start_error));
    QTRY_VERIFY_WITH_TIMEOUT(all_green(default_texts), event_wait_ms);

    // All queued in one go, between two ticks: write-all with two edited
    // boxes, read-all, then Enter in the last box.
    box(0)->setText(QStringLiteral("90"));
    box(4)->setText(QStringLiteral("30,5"));
    click("cmd_writeall");
    click("cmd_readall");
    type(8, QStringLiteral("1"));
    QTest::keyClick(box(8), Qt::Key_Return);
    QCOMPARE(LineDriver::ring(m_win->line()).pending(), 8);

    const QStringList expected = {"90 ", "100 ", "100 ", "5 ", "30.5 ", "20 ", "100 ", "0 ", "1 "};
    QTRY_VERIFY_WITH_TIMEOUT(all_green(expected) && only_polls(), event_wait_ms);
    QCOMPARE(memory().toHex(' '), QByteArray::fromHex("5a6464138801314e2003e8000001").toHex(' '));
}

void TestEndToEnd::exception_reply_is_reported_and_removes_the_request()
{
    QVERIFY2(start({"--exception", "2"}), qPrintable(m_start_error));
    const QString dash = caption(m_win.get(), Caption::phAI);
    const QString blank = box(0)->text();
    QTRY_VERIFY_WITH_TIMEOUT(only_polls(), event_wait_ms);
    QTRY_COMPARE_WITH_TIMEOUT(m_win->status(),
                              text_connected + QStringLiteral(" Нарушение протокола, код: 2"),
                              event_wait_ms);
    QStringList requests;
    QTRY_VERIFY_WITH_TIMEOUT((requests += sim_requests(*m_sim)).size() >= 5, event_wait_ms);
    // Each of the three start-up reads went out once, then only polls.
    for (int k = 0; k < 3; ++k)
        QVERIFY2(requests[k].startsWith(QLatin1String("01 64 01")), qPrintable(requests[k]));
    QCOMPARE(QSet<QString>(requests.begin(), requests.begin() + 3).size(), 3);
    for (int k = 3; k < requests.size(); ++k)
        QVERIFY2(requests[k].startsWith(QLatin1String("01 03 00 c8 00 0a")),
                 qPrintable(requests[k]));
    for (int i = 0; i < par_count; ++i) {
        QVERIFY(!green(i));
        QCOMPARE(box(i)->text(), blank);
    }
    QCOMPARE(caption(m_win.get(), Caption::phAI), dash);
}

// A controller that echoes writes to the timer but keeps its old value:
// the read-back shows it. A box emptied before "Записать всё" still lets the
// rest of its group be written.
void TestEndToEnd::written_means_read_back()
{
    QVERIFY2(start({"--ignore-write", "262"}), qPrintable(m_start_error));
    QTRY_VERIFY_WITH_TIMEOUT(all_green(default_texts), event_wait_ms);
    type(4, QStringLiteral("30,5"));
    type(5, QString());
    type(6, QStringLiteral("50"));
    click("cmd_writeall");
    QTRY_VERIFY_WITH_TIMEOUT(green(6) && only_polls(), event_wait_ms);
    QCOMPARE(box(6)->text(), QStringLiteral("50 "));
    // The emptied box says it was not written, and keeps the operator's
    // text; the controller's value went in its place.
    QCOMPARE(box(5)->text(), QString());
    QCOMPARE(box(5)->palette().color(QPalette::Base), QColor(colour_refused));
    QCOMPARE(box(4)->text(), QStringLiteral("12.5 "));
    QCOMPARE(box(4)->palette().color(QPalette::Base), QColor(colour_not_taken));
    QCOMPARE(box(4)->toolTip(), QStringLiteral("записано 30.5, контроллер хранит 12.5"));
    QByteArray changed = default_memory;
    changed[266 - 257] = 0x01;
    changed[267 - 257] = char(0xf4);
    QCOMPARE(memory().toHex(' '), changed.toHex(' '));
}

// rzt604-modbus --demo: the simulator found beside the program, live values
// and a write through the journal; once the window and the session are gone
// the simulator has ended and nothing is left, in the user's folders least.
void TestEndToEnd::demo_shows_live_values_and_leaves_nothing()
{
    QTemporaryDir home;
    const QString tmp = home.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(tmp));
    const QList<QByteArray> vars = {"TMPDIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"};
    QList<QByteArray> saved;
    for (const QByteArray &var : vars) {
        saved << qgetenv(var.constData());
        qputenv(var.constData(), home.filePath(QString::fromLatin1(var)).toLocal8Bit());
    }
    const auto restore = qScopeGuard([&] {
        for (qsizetype i = 0; i < vars.size(); ++i)
            qputenv(vars[i].constData(), saved[i]);
    });
    qputenv("TMPDIR", tmp.toLocal8Bit());

    qint64 sim = 0;
    {
        DemoSession demo;
        QString why;
        QVERIFY2(demo.start(QFileInfo(QStringLiteral(SIM_PATH)).absolutePath(), &why),
                 qPrintable(why));
        sim = demo.simulator_pid();
        m_win = std::make_unique<FrmMain>(make_serial_port(demo.config_path()), demo.config_path());
        m_win->set_demo();
        QVERIFY(m_win->Form_Load());
        QTRY_VERIFY_WITH_TIMEOUT(all_green(default_texts), event_wait_ms);
        const auto amps = [&] { return caption(m_win.get(), Caption::phAI).toDouble(); };
        QTRY_VERIFY_WITH_TIMEOUT(amps() > 1.0 && amps() < 1.4, event_wait_ms);
        type(6, QStringLiteral("50"));
        click("cmd_writeall");
        QTRY_VERIFY_WITH_TIMEOUT(green(6) && only_polls(), event_wait_ms);
        QVERIFY(QFile::exists(QFileInfo(demo.config_path()).dir().filePath("journal.jsonl")));
        m_win.reset();
    }
    QVERIFY(sim > 0);
    QCOMPARE(::kill(pid_t(sim), 0), -1);
    QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
    QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"tmp"});
}

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
