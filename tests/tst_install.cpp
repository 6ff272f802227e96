// The "О программе" box that tells an engineer which version, file and
// device are in use, and F1's guide wherever the program was put. (Where the
// configuration file lives: tst_config.)
#include "config.h"
#include "fake_serial_port.h"
#include "frm_main.h"
#include "message_box.h"
#include "operator_guide.h"
#include "version.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

// Takes the URLs the desktop would open, so that a test opens nothing.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

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

    void guide_is_found_where_the_program_was_put_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("guide"); // empty: none
        QTest::newRow("package") << "usr/bin"
                                 << "usr/share/doc/rzt604-modbus/operator.md";
        QTest::newRow("Windows folder") << "rzt604-modbus"
                                        << "rzt604-modbus/docs/operator.md";
        QTest::newRow("build folder in the sources") << "src/build/bin"
                                                     << "src/docs/operator.md";
        QTest::newRow("none") << "opt/rzt/bin"
                              << "";
    }
    void guide_is_found_where_the_program_was_put()
    {
        QFETCH(QString, program);
        QFETCH(QString, guide);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(program));
        if (!guide.isEmpty()) {
            QVERIFY(QDir(root.path()).mkpath(QFileInfo(guide).path()));
            QFile f(root.filePath(guide));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QCOMPARE(operator_guide_path(root.filePath(program)),
                 guide.isEmpty() ? QString() : root.filePath(guide));
    }

    // From the keyboard: F1 opens the guide, or says where it is and the
    // main keys; Ctrl+Q closes the window.
    void f1_shows_the_guide_and_ctrl_q_quits()
    {
        QTemporaryDir dir;
        auto port = std::make_unique<FakeSerialPort>();
        port->make_free({1});
        FrmMain w(std::move(port), dir.filePath(QStringLiteral("тп.ini")));
        QVERIFY(w.Form_Load());
        UrlCatcher desktop;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
        QStringList shown;
        message_box_fn() = [&](QWidget *, const QString &text, const QString &,
                               QMessageBox::StandardButtons, QMessageBox::Icon) {
            shown << text;
            return QMessageBox::Ok;
        };
        const auto restore = qScopeGuard([] {
            QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
            message_box_fn() = nullptr;
        });
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));

        QTest::keyClick(&w, Qt::Key_F1);
        // The guide is there once the sources hold it, so either answer is right.
        QCOMPARE(desktop.urls.size() + shown.size(), 1);
        if (shown.isEmpty())
            QVERIFY2(QFileInfo(desktop.urls[0].toLocalFile()).isFile(),
                     qPrintable(desktop.urls[0].toString()));
        else
            QVERIFY2(shown[0].contains(QStringLiteral("README")) &&
                         shown[0].contains(QStringLiteral("F5")),
                     qPrintable(shown[0]));

        QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
