// The window over the Win32 port against rzt604-sim, which scripts/windows
// --test serves under Wine on COM<RZT_TEST_COM> (a dosdevices symbolic link to the
// simulator's pseudo-terminal): start-up reads every parameter and the live
// values, Enter in a box writes it and the controller's answer turns it
// green. The simulator's log, read by the script, shows the polling period.

#include "app_rig.h"
#include "event_wait.h"
#include "par_box.h"
#include "serial_port_factory.h"
#include "window_probe.h"

#include <QLocale>

class TestWinWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void reads_all_then_writes_one()
    {
        const int com = qEnvironmentVariableIntValue("RZT_TEST_COM");
        if (com == 0)
            QSKIP("needs RZT_TEST_COM=n, a COM port with rzt604-sim on it "
                  "(scripts/windows --test sets it up under Wine)");
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("тп.ini"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("[PC config]\r\nCOM=") + QByteArray::number(com) + "\r\n");
        f.close();
        BoxAnswers boxes;
        FrmMain w(make_serial_port(ini), ini);
        QVERIFY(w.Form_Load());
        QVERIFY2(boxes.shown.isEmpty(), qPrintable(boxes.shown.value(0).text));

        const auto all_green = [&] {
            for (int i = 0; i < par_count; ++i) {
                if (box_colour(&w, i) != colour_green)
                    return false;
            }
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(all_green(), event_wait_ms);
        QTRY_VERIFY_WITH_TIMEOUT(caption(&w, Caption::fr).toDouble() > 45, event_wait_ms);
        QCOMPARE(w.status(), text_connected);

        QLineEdit *timer = par_box(&w, 4);
        timer->clear();
        QTest::keyClicks(timer, QStringLiteral("7,5"));
        QVERIFY(box_colour(&w, 4) != colour_green);
        QTest::keyClick(timer, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(box_colour(&w, 4) == colour_green, event_wait_ms);
        QCOMPARE(timer->text(), QStringLiteral("7.5 "));
        QVERIFY2(boxes.shown.isEmpty(), qPrintable(boxes.shown.value(0).text));
    }
};

QTEST_MAIN(TestWinWindow)
#include "tst_win_window.moc"
