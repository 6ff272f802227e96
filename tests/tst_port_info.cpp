// What the port dialog's tooltips tell about a device: its path, and the
// stable names udev gives it in /dev/serial/by-id, found through the symbolic links.

#include "port_info.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifndef Q_OS_WIN
#include "raw_pty.h"

#include <unistd.h>
#endif

class TestPortInfo : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_pty;
    int m_fds[2] = {-1, -1};

    QString path(const QString &name) const { return m_dir.filePath(name); }
    bool make_symlink(const QString &target, const QString &name) const
    {
        return QFile::link(target, path(name));
    }

private slots:
    void initTestCase()
    {
#ifdef Q_OS_WIN
        QSKIP("needs POSIX pseudo-terminals and symbolic links");
#else
        QVERIFY2(open_raw_pty(m_fds[0], m_fds[1], m_pty), "openpty failed");
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(path("by-id")));
        // Two names for the pty, one through the symbolic link beside the ini, one
        // for another device and one whose device is gone.
        QVERIFY(make_symlink(m_pty, "by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"));
        QVERIFY(make_symlink(m_pty, "ttyRZT"));
        QVERIFY(make_symlink(path("ttyRZT"), "by-id/usb-1a86_USB_Serial-if00-port0"));
        QVERIFY(make_symlink("/dev/null", "by-id/usb-other-if00-port0"));
        QVERIFY(make_symlink(path("gone"), "by-id/usb-gone-if00-port0"));
#endif
    }

    void cleanupTestCase()
    {
#ifndef Q_OS_WIN
        for (int fd : m_fds) {
            if (fd >= 0)
                ::close(fd);
        }
#endif
    }

    void by_id_names_lead_to_the_device_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QStringList>("names");
        const QStringList both = {path("by-id/usb-1a86_USB_Serial-if00-port0"),
                                  path("by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0")};
        QTest::newRow("device node") << m_pty << both;
        QTest::newRow("through a link") << path("ttyRZT") << both;
        QTest::newRow("by-id name itself") << both[1] << both;
        QTest::newRow("other device")
            << "/dev/null" << QStringList{path("by-id/usb-other-if00-port0")};
        QTest::newRow("missing") << path("gone") << QStringList{};
    }
    void by_id_names_lead_to_the_device()
    {
        QFETCH(QString, device);
        QFETCH(QStringList, names);
        QCOMPARE(by_id_names(device, path("by-id")), names);
    }

    void tooltip_names_path_device_and_by_id()
    {
        const QStringList direct = port_tooltip(m_pty, path("by-id")).split(QLatin1Char('\n'));
        QCOMPARE(direct.first(), m_pty);
        QVERIFY(direct.contains(path("by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0")));

        const QStringList indirect =
            port_tooltip(path("ttyRZT"), path("by-id")).split(QLatin1Char('\n'));
        QCOMPARE(indirect.mid(0, 2), (QStringList{path("ttyRZT"), m_pty}));
        QVERIFY(indirect.contains(path("by-id/usb-1a86_USB_Serial-if00-port0")));
        QVERIFY(!indirect.contains(path("by-id/usb-other-if00-port0")));

        // A device that is not there is still named, with nothing more.
        QCOMPARE(port_tooltip(path("gone"), path("by-id")), path("gone"));
    }
};

QTEST_GUILESS_MAIN(TestPortInfo)
#include "tst_port_info.moc"
