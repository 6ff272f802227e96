// A port that goes away while open: the session waits for the configured
// port and takes it up again by itself, and the request ring loses nothing.
// First with a fake port and the steps driven by hand, then with the real
// serial layer against a simulator that is stopped and replaced behind the
// same symbolic link of a "Ports" entry.

#include "event_wait.h"
#include "fake_config_view.h"
#include "fake_serial_port.h"
#include "frames.h"
#include "frm_main.h"
#include "line_driver.h"
#include "message_box.h"
#include "par_box.h"
#include "qt_serial_port.h"
#include "sim_process.h"
#include "window_probe.h"
#include "wnd_set_com.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <ctime>
#include <memory>

namespace {

QString lost_text(int n)
{
    return QStringLiteral("Порт COM%1 потерян, ожидание подключения").arg(n);
}

// Collects message boxes instead of showing them; none is expected here.
class NoBoxes {
public:
    QStringList shown;
    NoBoxes()
    {
        message_box_fn() = [this](QWidget *, const QString &text, const QString &,
                                  QMessageBox::StandardButtons, QMessageBox::Icon) {
            shown.append(text);
            return QMessageBox::Cancel;
        };
    }
    ~NoBoxes() { message_box_fn() = nullptr; }
};

} // namespace

class TestReconnect : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString m_sim_error; // why start_behind() failed

    // A simulator behind the symbolic link, its parameter memory in the
    // file of that name; false with why in m_sim_error when it did not
    // come up.
    [[nodiscard]] bool start_behind(QProcess &sim, const QString &symlink,
                                    const QString &memory = QStringLiteral("memory.bin"))
    {
        m_sim_error = start_sim(sim, {"--memory", m_dir.filePath(memory), "--link", symlink}).error;
        return m_sim_error.isEmpty();
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // Ticks never reopen the port (no storm at the tick rate); each step of
    // the wait tries once; the ring waits with the port.
    void lost_port_is_awaited_and_the_queue_kept()
    {
        QTemporaryDir dir;
        auto owned = std::make_unique<FakeSerialPort>();
        FakeSerialPort &port = *owned;
        port.make_free({1});
        FrmMain w(std::move(owned), dir.filePath(QStringLiteral("тп.ini")));
        NoBoxes boxes;
        QVERIFY(w.Form_Load());
        LineDriver::timer(w.line())->stop();
        w.mnu_monitor_Click();
        PortSession &session = LineDriver::session(w.line());
        QSignalSpy back(&session, &PortSession::reconnected);
        // The monitor's lines about the port itself, without their times.
        const auto port_lines = [&] {
            QStringList out;
            for (const QString &line : w.monitor()->log().lines()) {
                if (line.contains(QStringLiteral(" — ")))
                    out << line.section(QStringLiteral(" — "), 1);
            }
            return out;
        };

        LineDriver::tick(w.line());
        const QByteArray head = port.written.last();
        port.lose();
        port.open_result[1] = PortError::NotAvailable;
        enter(par_box(&w, 4), QStringLiteral("12,5"));
        const int queued = LineDriver::ring(w.line()).pending();
        const qsizetype attempts = port.open_attempts.size();
        for (int k = 0; k < 5; ++k)
            LineDriver::tick(w.line());
        // Once, not at every tick: a saved log has no silent gap.
        QCOMPARE(port_lines(), QStringList{QStringLiteral("порт COM1 потерян")});
        const QString waiting = QStringLiteral(" (ожидают записи: 1)");
        QCOMPARE(w.status(), lost_text(1) + waiting);
        QCOMPARE(port.open_attempts.size(), attempts);
        QCOMPARE(port.written.last(), head);

        session.retry_lost_port();
        session.retry_lost_port();
        QCOMPARE(port.open_attempts.size(), attempts + 2);
        QCOMPARE(port.open_attempts.last(), 1);
        LineDriver::tick(w.line());
        QCOMPARE(w.status(), lost_text(1) + waiting);
        QVERIFY(session.lost());

        port.open_result[1] = PortError::None;
        session.retry_lost_port();
        QVERIFY(port.is_open());
        QVERIFY(!session.lost());
        QCOMPARE(back.count(), 1);
        QCOMPARE(session.reconnects(), 1);
        QCOMPARE(port_lines().value(1), QStringLiteral("порт открыт заново"));
        session.retry_lost_port();
        QCOMPARE(port.open_attempts.size(), attempts + 3);

        // The write waits until the controller on the port is known to be
        // the one it was typed for: its versions and all nine are read first.
        LineDriver::tick(w.line());
        QCOMPARE(w.status(), text_no_answer + waiting);
        COMPARE_HEX(port.written.last(), with_crc(hex("0164010105")));
        const RequestRing &ring = LineDriver::ring(w.line());
        QCOMPARE(ring.pending(), 4);
        COMPARE_HEX(pdu_at(ring, ring.slot(2)), hex("64010e01"));
        COMPARE_HEX(pdu_at(ring, ring.slot(3)), hex("0300c8000a"));
        Q_UNUSED(queued);
        QVERIFY(boxes.shown.isEmpty());
    }

    // The dialog closes and switches ports on purpose; a port it chose and
    // then lost is not replaced by the configured one behind its back.
    void port_dialog_holds_the_port()
    {
        QTemporaryDir dir;
        auto owned = std::make_unique<FakeSerialPort>();
        FakeSerialPort &port = *owned;
        port.make_free({3, 5});
        Line line(std::move(owned), dir.filePath(QStringLiteral("тп.ini")));
        PortSession &session = LineDriver::session(line);
        session.com_port = 3;
        QCOMPARE(session.open_configured(), PortError::None);
        port.lose();

        FakeConfigView view(1);
        WndSetCom dlg(line, view);
        dlg.form_load();
        auto *list = dlg.findChild<QComboBox *>(QStringLiteral("cmbCOMList"));
        list->setCurrentIndex(list->findText(QStringLiteral("COM5")));
        emit list->activated(list->currentIndex());
        port.lose();
        const qsizetype attempts = port.open_attempts.size();
        session.retry_lost_port();
        QCOMPARE(port.open_attempts.size(), attempts);
        QVERIFY(!session.lost());
        QCOMPARE(session.closed_text(), QStringLiteral("Порт COM5 не открыт"));

        dlg.reject();
        QVERIFY(port.is_open());
        QCOMPARE(port.port_number(), 3);
        QCOMPARE(session.reconnects(), 0);
    }

    // The adapter is pulled and plugged back in, onto another controller:
    // the simulator behind the "Ports" entry's symbolic link stops, and
    // another one with other settings comes up behind the same one. Its
    // values replace the first one's; the write typed meanwhile for the
    // first one never reaches it, and the box says why.
    void replugged_device_is_taken_up_again()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs POSIX pseudo-terminals");
#endif
        const QString symlink = m_dir.filePath(QStringLiteral("ttyRZT"));
        QProcess first, second;
        QVERIFY2(start_behind(first, symlink), qPrintable(m_sim_error));
        const QString ini = m_dir.filePath(QStringLiteral("тп.ini"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[PC config]\r\nCOM=16\r\n[Ports]\r\nCOM16=" + symlink.toLocal8Bit() + "\r\n");
        f.close();

        NoBoxes boxes;
        FrmMain w(std::make_unique<QtSerialPort>(ini), ini);
        QVERIFY(w.Form_Load());
        QTRY_VERIFY_WITH_TIMEOUT(box_colour(&w, 8) == colour_green, event_wait_ms);
        QCOMPARE(par_box(&w, 0)->text(), QStringLiteral("100 "));
        stop_process(first);
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), lost_text(16), event_wait_ms);

        // Entered while the port is away; the wait must not spin (a spinning
        // wait burns the whole 1.5 s; the bound leaves room for a loaded machine).
        enter(par_box(&w, 4), QStringLiteral("30,5"));
        const std::clock_t cpu = std::clock();
        QTest::qWait(1500);
        const double cpu_s = double(std::clock() - cpu) / CLOCKS_PER_SEC;
        QVERIFY2(cpu_s < 0.5, qPrintable(QStringLiteral("%1 s of CPU").arg(cpu_s)));
        QCOMPARE(w.status(), lost_text(16) + QStringLiteral(" (ожидают записи: 1)"));
        QVERIFY(box_colour(&w, 0) == colour_green); // not known otherwise yet

        QFile other(m_dir.filePath(QStringLiteral("other.bin")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write(QByteArray::fromHex("5a5b5c"
                                        "05dc"
                                        "007d"
                                        "4e20"
                                        "03e8"
                                        "0000"
                                        "01"));
        other.close();
        QVERIFY2(start_behind(second, symlink, QStringLiteral("other.bin")),
                 qPrintable(m_sim_error));
        QElapsedTimer back;
        back.start();
        QStringList requests;
        QTRY_VERIFY_WITH_TIMEOUT(!(requests += sim_requests(second)).isEmpty(), event_wait_ms);
        const qint64 resumed_ms = back.elapsed();
        qInfo("polling resumed %lld ms after the device came back", resumed_ms);
        // Retried about once a second, so well within two; the bound allows for load.
        QVERIFY2(resumed_ms < 3000, qPrintable(QString::number(resumed_ms)));

        QTRY_VERIFY_WITH_TIMEOUT(par_box(&w, 8)->text() == QStringLiteral("1 ") &&
                                     box_colour(&w, 8) == colour_green,
                                 event_wait_ms);
        QCOMPARE(par_box(&w, 0)->text(), QStringLiteral("90 "));
        QTRY_COMPARE_WITH_TIMEOUT(box_colour(&w, 4), colour_refused, event_wait_ms);
        QCOMPARE(par_box(&w, 4)->text(), QStringLiteral("30,5"));
        QVERIFY2(par_box(&w, 4)->toolTip().contains(QStringLiteral("контроллер не опознан")),
                 qPrintable(par_box(&w, 4)->toolTip()));
        QTest::qWait(300);
        requests += sim_requests(second);
        QCOMPARE(requests.filter(QStringLiteral("01 65")).size(), 0);
        QCOMPARE(LineDriver::session(w.line()).reconnects(), 1);
        QVERIFY2(boxes.shown.isEmpty(), qPrintable(boxes.shown.value(0)));
        stop_process(second);
    }

    // "Настройка порта" moves the line to another controller: the boxes are
    // that controller's once it has answered, and a write still waiting
    // for the first one never reaches the second.
    void dialog_switch_to_another_controller()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs POSIX pseudo-terminals");
#endif
        const QString a = m_dir.filePath(QStringLiteral("ttyA"));
        const QString b = m_dir.filePath(QStringLiteral("ttyB"));
        QFile other(m_dir.filePath(QStringLiteral("b.bin")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write(QByteArray::fromHex("5a5b5c"
                                        "05dc"
                                        "012c"
                                        "4e20"
                                        "03e8"
                                        "0000"
                                        "01"));
        other.close();
        QProcess first, second;
        QVERIFY2(start_behind(first, a, QStringLiteral("a.bin")), qPrintable(m_sim_error));
        QVERIFY2(start_behind(second, b, QStringLiteral("b.bin")), qPrintable(m_sim_error));
        const QString ini = m_dir.filePath(QStringLiteral("тп.ini"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[PC config]\r\nCOM=15\r\n[Ports]\r\nCOM15=" + a.toLocal8Bit() +
                "\r\nCOM16=" + b.toLocal8Bit() + "\r\n");
        f.close();

        NoBoxes boxes;
        FrmMain w(std::make_unique<QtSerialPort>(ini), ini);
        QVERIFY(w.Form_Load());
        QTRY_VERIFY_WITH_TIMEOUT(box_colour(&w, 8) == colour_green, event_wait_ms);
        QCOMPARE(par_box(&w, 0)->text(), QStringLiteral("100 "));
        // The first controller stops answering with a write for it pending.
        ::kill(pid_t(first.processId()), SIGSTOP);
        enter(par_box(&w, 4), QStringLiteral("77"));
        QTest::qWait(400);
        QVERIFY(w.line().pending_writes() == 1);

        w.mnu_settings_Click();
        WndSetCom *dlg = w.port_dialog();
        auto *list = dlg->findChild<QComboBox *>(QStringLiteral("cmbCOMList"));
        list->setCurrentIndex(list->findText(QStringLiteral("COM16")));
        emit list->activated(list->currentIndex());
        QCOMPARE(w.line().pending_writes(), 0);
        QCOMPARE(box_colour(&w, 4), colour_refused);
        QCOMPARE(box_colour(&w, 0), colour_white);
        QTRY_VERIFY_WITH_TIMEOUT(box_colour(&w, 8) == colour_green &&
                                     par_box(&w, 0)->text() == QStringLiteral("90 "),
                                 event_wait_ms);
        // The cancelled text stays the operator's, to send again if meant.
        QCOMPARE(par_box(&w, 4)->text(), QStringLiteral("77"));
        QCOMPARE(box_colour(&w, 4), colour_refused);
        dlg->findChild<QPushButton *>(QStringLiteral("OK"))->click();
        ::kill(pid_t(first.processId()), SIGCONT);
        QTest::qWait(300);
        // It went out to the first one while it was silent; never to the second.
        QVERIFY(sim_requests(second).filter(QStringLiteral("01 65")).isEmpty());
        QVERIFY2(boxes.shown.isEmpty(), qPrintable(boxes.shown.value(0)));
        stop_process(first);
        stop_process(second);
    }

    // The adapter is plugged in after start-up: the window, started without
    // it (error box, ОК, dialog, Отмена), takes it up and reads it.
    void late_plug_is_taken_up()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs POSIX pseudo-terminals");
#endif
        const QString symlink = m_dir.filePath(QStringLiteral("ttyLate"));
        const QString ini = m_dir.filePath(QStringLiteral("тп.ini"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[PC config]\r\nCOM=14\r\n[Ports]\r\nCOM14=" + symlink.toLocal8Bit() + "\r\n");
        f.close();
        QStringList shown;
        message_box_fn() = [&](QWidget *, const QString &text, const QString &,
                               QMessageBox::StandardButtons, QMessageBox::Icon) {
            shown << text;
            return QMessageBox::Ok;
        };
        QTimer cancel_dialog;
        connect(&cancel_dialog, &QTimer::timeout, [] {
            if (auto *dlg = qobject_cast<WndSetCom *>(QApplication::activeModalWidget()))
                dlg->reject();
        });
        cancel_dialog.start(20);
        FrmMain w(std::make_unique<QtSerialPort>(ini), ini);
        QVERIFY(w.Form_Load());
        cancel_dialog.stop();
        message_box_fn() = nullptr;
        QCOMPARE(shown.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(w.status().contains(QStringLiteral("ожидание подключения")),
                                 event_wait_ms);

        QProcess sim;
        QVERIFY2(start_behind(sim, symlink, QStringLiteral("late.bin")), qPrintable(m_sim_error));
        QTRY_VERIFY_WITH_TIMEOUT(box_colour(&w, 8) == colour_green, event_wait_ms);
        QCOMPARE(w.status(), text_connected);
        stop_process(sim);
    }
};

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
