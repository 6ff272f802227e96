// What changes when the program is installed: where its configuration file
// lives, and the "О программе" box that tells an engineer which version,
// file and device are in use.
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

    QTemporaryDir m_home;

private slots:
    void config_follows_the_program_folder_data()
    {
        QTest::addColumn<bool>("folder_writable");
        QTest::addColumn<bool>("xdg_set");
        QTest::newRow("portable copy") << true << true;
        QTest::newRow("installed, XDG_CONFIG_HOME") << false << true;
        QTest::newRow("installed, ~/.config") << false << false;
    }
    void config_follows_the_program_folder()
    {
        QFETCH(bool, folder_writable);
        QFETCH(bool, xdg_set);
        QTemporaryDir program;
        QString program_dir = program.path();
        if (!folder_writable) {
            QFile::setPermissions(program_dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            // root writes anywhere: a folder that is not there stands in.
            if (QFileInfo(program_dir).isWritable())
                program_dir = program.filePath(QStringLiteral("gone"));
        }
        const QString xdg = m_home.filePath(QStringLiteral("xdg"));
        const QString home = m_home.filePath(QStringLiteral("home"));
        qputenv("HOME", home.toLocal8Bit());
        if (xdg_set)
            qputenv("XDG_CONFIG_HOME", xdg.toLocal8Bit());
        else
            qunsetenv("XDG_CONFIG_HOME");

        const QString path = config_path_for(program_dir);

        const QString user_dir =
            (xdg_set ? xdg : home + QStringLiteral("/.config")) + QStringLiteral("/rzt604-modbus");
        const QString want = (folder_writable ? program_dir : user_dir) + QStringLiteral("/тп.ini");
        QCOMPARE(path, want);
        // The folder is there for the first save, which would otherwise be
        // refused silently and the port never remembered.
        QVERIFY(QFileInfo(QFileInfo(path).path()).isWritable());
        QFile::setPermissions(program.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
    }

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
