// The traffic monitor and the address scan in the real window, against
// rzt604-sim on a pseudo-terminal: the verdicts the simulator's faults give,
// and finding the simulator at an address other than the selected one.

#include "event_wait.h"
#include "frm_main.h"
#include "line_driver.h"
#include "message_box.h"
#include "qt_serial_port.h"
#include "sim_window.h"
#include "window_probe.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

namespace {

using Counts = QList<qint64>; // good, crc_mismatch, no_answer, exceptions

Counts verdict_counts(const TrafficCounters &c)
{
    return {c.good, c.crc_mismatch, c.no_answer, c.exceptions};
}

int lines_with(const TrafficLog &log, const QString &part)
{
    int n = 0;
    for (const QString &line : log.lines())
        n += line.contains(part) ? 1 : 0;
    return n;
}

} // namespace

class TestMonitorScan : public SimWindowTest {
    Q_OBJECT

    void trigger(const char *action)
    {
        m_win->findChild<QAction *>(QString::fromLatin1(action))->trigger();
    }
    template <typename T> T *scan_child(const char *name) const
    {
        return m_win->scan_window()->findChild<T *>(QString::fromLatin1(name));
    }

private slots:
    void init();
    void cleanup();

    void monitor_shows_each_verdict_data();
    void monitor_shows_each_verdict();
    void scan_finds_the_controller_data();
    void scan_finds_the_controller();
};

void TestMonitorScan::init()
{
    catch_boxes();
}

void TestMonitorScan::cleanup()
{
    stop_all();
}

void TestMonitorScan::monitor_shows_each_verdict_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<int>("kind"); // index into Counts

    QTest::newRow("good") << QStringList{} << "  ОК, " << 0;
    QTest::newRow("corrupt") << QStringList{"--corrupt", "1"} << "  несовпадение КС, " << 1;
    QTest::newRow("drop") << QStringList{"--drop", "1"} << "← нет ответа" << 2;
    QTest::newRow("exception") << QStringList{"--exception", "2"}
                               << "  исключение, код 2 (недопустимый адрес данных), " << 3;
}

void TestMonitorScan::monitor_shows_each_verdict()
{
    QFETCH(QStringList, options);
    QFETCH(QString, verdict);
    QFETCH(int, kind);
    QVERIFY2(start(options), qPrintable(m_start_error));
    trigger("mnu_monitor");
    MonitorWindow *monitor = m_win->monitor();
    QVERIFY(monitor != nullptr && monitor->isVisible());
    QCOMPARE(monitor->windowTitle(), QStringLiteral("Монитор обмена"));
    const TrafficLog &log = monitor->log();
    QTRY_VERIFY_WITH_TIMEOUT(verdict_counts(log.counters())[kind] >= 4, event_wait_ms);
    LineDriver::timer(m_win->line())->stop();

    // Every reply was judged the same way, and the lines say what the counters do.
    Counts expected = {0, 0, 0, 0};
    expected[kind] = verdict_counts(log.counters())[kind];
    QCOMPARE(verdict_counts(log.counters()), expected);
    QCOMPARE(lines_with(log, verdict), int(expected[kind]));
    QCOMPARE(lines_with(log, QStringLiteral(" → 01 ")), int(log.counters().requests));
    QVERIFY(log.counters().requests >= expected[kind]);
}

void TestMonitorScan::scan_finds_the_controller_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<bool>("selectable");
    QTest::newRow("77") << 77 << true;
    QTest::newRow("above the address list") << 200 << false;
}

void TestMonitorScan::scan_finds_the_controller()
{
    QFETCH(int, address);
    QFETCH(bool, selectable);
    QVERIFY2(start({"--address", QString::number(address)}), qPrintable(m_start_error));
    QTRY_COMPARE_WITH_TIMEOUT(m_win->status(), text_no_answer, event_wait_ms);
    const RequestRing ring = LineDriver::ring(m_win->line());

    trigger("mnu_monitor");
    trigger("mnu_scan");
    ScanWindow *scan = m_win->scan_window();
    QVERIFY(scan != nullptr && scan->isVisible());
    scan_child<QSpinBox>("spn_from")->setValue(address - 7);
    scan_child<QSpinBox>("spn_to")->setValue(address + 3);
    QList<bool> polling;
    QSet<QString> status;
    QSet<QRgb> live_colours;
    const auto *phase_a = m_win->findChild<QLabel *>(QStringLiteral("lbl_phAI"));
    connect(scan_child<QProgressBar>("prg_scan"), &QProgressBar::valueChanged, this, [&] {
        polling.append(LineDriver::timer(m_win->line())->isActive());
        status.insert(m_win->status());
        live_colours.insert(phase_a->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF);
    });
    // Enter in the range starts the search, as the window's main command.
    QTest::keyClick(scan_child<QSpinBox>("spn_to"), Qt::Key_Return);

    QCOMPARE(polling.size(), 11);
    QVERIFY(!polling.contains(true));
    QCOMPARE(status, QSet<QString>{QStringLiteral("Поиск устройства…")});
    // Nothing fresh comes while the search owns the port, and it looks it.
    QCOMPARE(live_colours, QSet<QRgb>{0x808080});
    // A saved log shows the pause in polling for what it was.
    m_win->monitor()->flush();
    const TrafficLog &log = m_win->monitor()->log();
    QCOMPARE(lines_with(log, QStringLiteral(" — поиск устройства начат")), 1);
    QCOMPARE(lines_with(log, QStringLiteral(" — поиск устройства окончен")), 1);
    QVERIFY(LineDriver::timer(m_win->line())->isActive());
    QCOMPARE(LineDriver::ring(m_win->line()).req_read_idx, ring.req_read_idx);
    QCOMPARE(LineDriver::ring(m_win->line()).pending(), ring.pending());
    QCOMPARE(scan->hits().size(), 1);
    QCOMPARE(scan->hits()[0].address, address);
    const auto *found = scan_child<QTreeWidget>("lst_found");
    QCOMPARE(found->topLevelItemCount(), 1);
    const QTreeWidgetItem *item = found->topLevelItem(0);
    QCOMPARE(item->text(0), QString::number(address));
    QCOMPARE(item->text(1), QStringLiteral("2.05"));
    QCOMPARE(item->text(2), QStringLiteral("1.12"));
    QCOMPARE(item->text(3).isEmpty(), selectable);

    auto *choose = scan_child<QPushButton>("cmd_choose");
    QCOMPARE(choose->isEnabled(), selectable);
    choose->click();
    const auto *slad = m_win->findChild<QComboBox *>(QStringLiteral("cmb_slad"));
    if (!selectable) {
        QCOMPARE(slad->currentIndex(), 1);
        return;
    }
    QCOMPARE(slad->currentIndex(), address);
    // Polling goes on where it stopped, now to the address found.
    QTRY_COMPARE_WITH_TIMEOUT(m_win->status(), text_connected, event_wait_ms);
    QTRY_COMPARE_WITH_TIMEOUT(box_colour(m_win.get(), 0), QRgb(0x00FF00), event_wait_ms);
}

QTEST_MAIN(TestMonitorScan)
#include "tst_monitor_scan.moc"
