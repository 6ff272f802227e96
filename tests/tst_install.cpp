// The "О программе" box that tells an engineer which version, file and
// device are in use. (Where the configuration file lives: tst_config.)
#include "config.h"
#include "fake_serial_port.h"
#include "frm_main.h"
#include "message_box.h"
#include "version.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

class TestInstall : public QObject {
    Q_OBJECT

private slots:
    void about_names_version_file_and_device()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("тп.ini"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[PC config]\nCOM=3\n[Ports]\nCOM3=/dev/serial/by-id/usb-test-port0\n");
        f.close();
        auto port = std::make_unique<FakeSerialPort>();
        port->make_free({3});
        FrmMain w(std::move(port), ini);
        QVERIFY(w.Form_Load());

        QStringList shown;
        message_box_fn() = [&](QWidget *, const QString &text, const QString &title,
                               QMessageBox::StandardButtons, QMessageBox::Icon) {
            shown << title << text;
            return QMessageBox::Ok;
        };
        auto *about = w.findChild<QAction *>(QStringLiteral("mnu_about"));
        QVERIFY(about != nullptr);
        QVERIFY(w.menuBar()->actions().contains(about));
        about->trigger();
        message_box_fn() = nullptr;

        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0], QStringLiteral("О программе"));
        const QString text = shown[1];
        QVERIFY2(text.contains(QStringLiteral("Версия " RZT_VERSION)), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Qt ") + QString::fromLatin1(qVersion())),
                 qPrintable(text));
        QVERIFY2(text.contains(ini), qPrintable(text));
#ifdef Q_OS_WIN
        QVERIFY2(text.contains(QStringLiteral("COM3: COM3")), qPrintable(text));
#else
        QVERIFY2(text.contains(QStringLiteral("COM3: /dev/serial/by-id/usb-test-port0")),
                 qPrintable(text));
#endif
    }
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
