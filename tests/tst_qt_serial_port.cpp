// The QSerialPort layer on a real pseudo-terminal pair: the port under test
// opens the slave through a "Ports" entry, the test plays the device on the
// master. Nothing here runs an event loop unless it says so.

#include "event_wait.h"
#include "port_lock.h"
#include "port_map.h"
#include "qt_serial_port.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <ctime>

#ifndef Q_OS_WIN
#include "raw_pty.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

const QByteArray poll_frame = QByteArray::fromHex("010300c8000a4433");

std::span<const uint8_t> bytes(const QByteArray &a)
{
    return {reinterpret_cast<const uint8_t *>(a.constData()), size_t(a.size())};
}

#ifndef Q_OS_WIN
#define REQUIRE_PTY(p) QVERIFY2((p).ok(), "openpty failed")

class Pty {
public:
    Pty() { open_raw_pty(m_master, m_slave, m_path); }
    ~Pty()
    {
        close_master();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    bool ok() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    int slave_fd() const { return m_slave; }
    void close_master()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    // Device to port; returns once the slave side holds all of it.
    bool send(const QByteArray &data)
    {
        const int expected = waiting_at_slave() + int(data.size());
        if (::write(m_master, data.constData(), size_t(data.size())) != data.size())
            return false;
        for (int ms = 0; waiting_at_slave() < expected && ms < event_wait_ms; ++ms)
            ::usleep(1000);
        return waiting_at_slave() == expected;
    }

    // Port to device: whatever arrives within the time, at most n bytes.
    QByteArray receive(qsizetype n, int timeout_ms = 1000)
    {
        QByteArray got;
        const QDeadlineTimer deadline(timeout_ms);
        pollfd p{m_master, POLLIN, 0};
        while (got.size() < n && ::poll(&p, 1, int(deadline.remainingTime())) == 1) {
            char buf[512];
            const ssize_t r =
                ::read(m_master, buf, size_t(std::min<qsizetype>(n - got.size(), 512)));
            if (r <= 0)
                break;
            got.append(buf, r);
        }
        return got;
    }

private:
    int waiting_at_slave() const
    {
        int n = 0;
        ::ioctl(m_slave, FIONREAD, &n);
        return n;
    }

    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};
#else
#define REQUIRE_PTY(p) QSKIP("needs POSIX pseudo-terminals")

struct Pty {
    QString path() const { return {}; }
    void close_master() {}
    bool send(const QByteArray &) { return false; }
    QByteArray receive(qsizetype, int = 0) { return {}; }
};
#endif

// Sets the number and opens; the first refusal is the result.
PortError open_as(QtSerialPort &port, int n)
{
    const PortError e = port.set_port_number(n);
    return e == PortError::None ? port.open() : e;
}

} // namespace

class TestQtSerialPort : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_ini = m_dir.filePath(QStringLiteral("тп.ini"));

    [[nodiscard]] bool write_ports(const QString &entries)
    {
        QFile f(m_ini);
        const QByteArray text = "[Ports]\r\n" + entries.toUtf8();
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
    }

private slots:
    void default_table()
    {
        const struct {
            int n;
            const char *posix;
        } table[] = {{1, "/dev/ttyUSB0"},
                     {8, "/dev/ttyUSB7"},
                     {9, "/dev/ttyACM0"},
                     {12, "/dev/ttyACM3"},
                     {13, "/dev/ttyS0"},
                     {16, "/dev/ttyS3"},
                     {0, ""},
                     {17, ""},
                     {-1, ""}};
        QVERIFY(write_ports(QStringLiteral("COM99=/dev/elsewhere\r\n")));
        for (const auto &row : table) {
#ifdef Q_OS_WIN
            const QString expected = *row.posix ? QStringLiteral("COM%1").arg(row.n) : QString();
#else
            const QString expected = QString::fromLatin1(row.posix);
#endif
            QCOMPARE(port_device_path(row.n, m_dir.filePath(QStringLiteral("missing.ini"))),
                     expected);
            QCOMPARE(port_device_path(row.n, m_ini), expected);
        }
    }

    // The mapping is looked up again at each set_port_number.
    void edited_mapping_gets_the_frame_byte_exact_at_115200_8n1()
    {
        Pty first, second;
        REQUIRE_PTY(first);
        REQUIRE_PTY(second);
        QVERIFY(write_ports(QStringLiteral("COM5=%1\r\n").arg(first.path())));
        QCOMPARE(port_device_path(5, m_ini), first.path());
        QtSerialPort port(m_ini);
        QCOMPARE(port.set_port_number(5), PortError::None);
        QCOMPARE(port.device_name(5), first.path());
        QVERIFY(write_ports(QStringLiteral("COM5=%1\r\n").arg(second.path())));
        QCOMPARE(port.set_port_number(5), PortError::None);
        QCOMPARE(port.device_name(5), second.path());

        QCOMPARE(port.open(), PortError::None);
        QVERIFY(port.is_open());
        port.write_frame(bytes(poll_frame));
        QCOMPARE(second.receive(poll_frame.size() + 1), poll_frame);
        QVERIFY(first.receive(1, 50).isEmpty());
#ifndef Q_OS_WIN
        termios t{};
        tcgetattr(second.slave_fd(), &t);
        QCOMPARE(cfgetospeed(&t), speed_t(B115200));
        QCOMPARE(cfgetispeed(&t), speed_t(B115200));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(0));
#endif
    }

    void bytes_between_ticks_are_counted_and_read_in_order()
    {
        Pty pty;
        REQUIRE_PTY(pty);
        QVERIFY(write_ports(QStringLiteral("COM5=%1\r\n").arg(pty.path())));
        QtSerialPort port(m_ini);
        QCOMPARE(open_as(port, 5), PortError::None);
        QCOMPARE(port.bytes_waiting(), 0);

        const QByteArray reply = QByteArray::fromHex("0103020007f986");
        QVERIFY(pty.send(reply));
        QCOMPARE(port.bytes_waiting(), int(reply.size()));
        for (char expected : reply)
            QCOMPARE(port.read_byte(), uint8_t(expected));
        QCOMPARE(port.bytes_waiting(), 0);
        QCOMPARE(port.read_byte(), uint8_t(0));

        // A tick that left bytes unread still counts what arrived after it.
        QVERIFY(pty.send("\x11\x22\x33"));
        QCOMPARE(port.bytes_waiting(), 3);
        QCOMPARE(port.read_byte(), uint8_t(0x11));
        QVERIFY(pty.send("\x44"));
        QCOMPARE(port.bytes_waiting(), 3);
        for (uint8_t expected : {0x22, 0x33, 0x44})
            QCOMPARE(port.read_byte(), expected);

        // read_byte alone also finds what the driver holds.
        QVERIFY(pty.send("\x55"));
        QCOMPARE(port.read_byte(), uint8_t(0x55));
    }

    void refusals_and_the_closed_port()
    {
        Pty pty;
        REQUIRE_PTY(pty);
        QVERIFY(
            write_ports(QStringLiteral("COM5=%1\r\nCOM6=/tmp/does-not-exist\r\n").arg(pty.path())));
        QtSerialPort port(m_ini);
        QCOMPARE(open_as(port, 6), PortError::NotAvailable);
        QVERIFY(!port.is_open());
        QCOMPARE(open_as(port, 5), PortError::None);
        QCOMPARE(port.open(), PortError::Busy);
        QVERIFY(port.is_open());
        QCOMPARE(port.set_port_number(6), PortError::Busy);
        QCOMPARE(port.port_number(), 5);

        QVERIFY(pty.send("\x01\x02"));
        port.close();
        QVERIFY(!port.is_open());
        QVERIFY(!port.lost());
        QCOMPARE(port.bytes_waiting(), 0);
        QCOMPARE(port.read_byte(), uint8_t(0));
        port.write_frame(bytes(poll_frame));
        QVERIFY(pty.receive(1, 100).isEmpty());

        QCOMPARE(port.set_port_number(0), PortError::BadNumber);
        QCOMPARE(port.set_port_number(17), PortError::BadNumber);
        QCOMPARE(port.port_number(), 5);
        QCOMPARE(port.open(), PortError::None);
        port.write_frame(bytes(poll_frame));
        QCOMPARE(pty.receive(poll_frame.size()), poll_frame);
    }

    // Another program holding the device looks the same: Qt's lock file in
    // /var/lock (or /tmp) refuses it, even for root, whom TIOCEXCL lets through.
    void second_opener_is_busy_until_the_first_closes()
    {
        Pty pty;
        REQUIRE_PTY(pty);
        QVERIFY(write_ports(QStringLiteral("COM5=%1\r\n").arg(pty.path())));
        QtSerialPort first(m_ini), second(m_ini);
        QCOMPARE(open_as(first, 5), PortError::None);
        QCOMPARE(open_as(second, 5), PortError::Busy);
        QVERIFY(!second.is_open());
#ifndef Q_OS_WIN
        // The refusal names the lock file and who holds it: this test itself.
        const QString said = second.open_error_text();
        QVERIFY2(
            said.contains(port_lock_file(pty.path())) &&
                said.contains(QStringLiteral("PID %1").arg(QCoreApplication::applicationPid())),
            qPrintable(said));
        // Another name of the same device, as root would open it past
        // TIOCEXCL: a symbolic link, held by the first through the device's own name.
        const QString symlink = m_dir.filePath(QStringLiteral("ttyLink"));
        QVERIFY(QFile::link(pty.path(), symlink));
        QtSerialPort third(m_ini);
        QCOMPARE(third.set_device(symlink), PortError::None);
        QCOMPARE(third.open(), PortError::Busy);
        QCOMPARE(port_lock_file(symlink), port_lock_file(pty.path()));
#endif
        first.close();
        QCOMPARE(second.open(), PortError::None);
#ifndef Q_OS_WIN
        // And the other way round: held through the symbolic link, the device's own
        // name is refused.
        second.close();
        QCOMPARE(third.open(), PortError::None);
        QCOMPARE(second.open(), PortError::Busy);
#endif
    }

#ifndef Q_OS_WIN
    // A lock file that stays refuses the port only when it may not be
    // removed (another user's): it is then named as left by a process that
    // is gone, or as held, by what it says and whether that process runs.
    void lock_file_holder_data()
    {
        // %1: a process that is gone, %2: this one, %3: this machine, %4: this program
        QTest::addColumn<QString>("contents");
        QTest::addColumn<bool>("gone");
        QTest::newRow("Qt's, gone") << "%1\nrzt604-modbus\n%3\n" << true;
        QTest::newRow("a pid alone, padded") << "      %1\n" << true;
        QTest::newRow("Qt's, running") << "%2\n%4\n%3\n" << false;
        QTest::newRow("its pid given to another program") << "%2\nminicom\n%3\n" << true;
    }
    void lock_file_holder()
    {
        QFETCH(QString, contents);
        QFETCH(bool, gone);
        QProcess ended;
        ended.start(QStringLiteral("true"));
        QVERIFY(ended.waitForStarted(event_wait_ms));
        const qint64 gone_pid = ended.processId();
        QVERIFY(ended.waitForFinished(event_wait_ms));
        const QString lock = m_dir.filePath(QStringLiteral("LCK..ttyUSB0"));
        QFile f(lock);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        contents.replace(QStringLiteral("%1"), QString::number(gone_pid))
            .replace(QStringLiteral("%2"), QString::number(QCoreApplication::applicationPid()))
            .replace(QStringLiteral("%3"), QSysInfo::machineHostName())
            .replace(QStringLiteral("%4"),
                     QFileInfo(QCoreApplication::applicationFilePath()).fileName());
        f.write(contents.toUtf8());
        f.close();
        const PortLockHolder holder = port_lock_holder(lock);
        QCOMPARE(holder.gone, gone);
        const QString said = port_lock_text(lock, holder);
        QVERIFY2(said.contains(lock) && said.contains(QString::number(holder.pid)),
                 qPrintable(said));
        QCOMPARE(said.contains(QStringLiteral("которого нет")), gone);
    }
#endif

    void other_end_closing_data()
    {
        QTest::addColumn<int>("noticed_by");
        QTest::newRow("count") << 0;
        QTest::newRow("write") << 1;
        QTest::newRow("event loop") << 2;
    }
    void other_end_closing()
    {
        QFETCH(int, noticed_by);
        Pty gone, next;
        REQUIRE_PTY(gone);
        REQUIRE_PTY(next);
        QVERIFY(
            write_ports(QStringLiteral("COM5=%1\r\nCOM7=%2\r\n").arg(gone.path(), next.path())));
        QtSerialPort port(m_ini);
        QCOMPARE(open_as(port, 5), PortError::None);
        gone.close_master();

        QElapsedTimer t;
        t.start();
        if (noticed_by == 1) {
            port.write_frame(bytes(poll_frame));
        } else if (noticed_by == 2) {
            // The read notifier keeps firing on a hung-up tty; the port must
            // close rather than spin on it.
            const std::clock_t cpu = std::clock();
            QTest::qWait(300);
            QVERIFY(!port.is_open());
            const double cpu_s = double(std::clock() - cpu) / CLOCKS_PER_SEC;
            QVERIFY2(cpu_s < 0.1, qPrintable(QStringLiteral("%1 s of CPU").arg(cpu_s)));
        }
        QCOMPARE(port.bytes_waiting(), 0);
        QVERIFY(!port.is_open());
        // Told apart from a close by the owner, until the owner opens again.
        QVERIFY(port.lost());
        QCOMPARE(port.read_byte(), uint8_t(0));
        port.write_frame(bytes(poll_frame));
        QVERIFY(t.elapsed() < 1000);

        QCOMPARE(open_as(port, 7), PortError::None);
        QVERIFY(!port.lost());
        port.write_frame(bytes(poll_frame));
        QCOMPARE(next.receive(poll_frame.size()), poll_frame);
    }
};

QTEST_MAIN(TestQtSerialPort)
#include "tst_qt_serial_port.moc"
