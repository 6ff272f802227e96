// The Win32 serial port on two COM ports joined like a null-modem cable:
// under Wine, dosdevices symbolic links to a pseudo-terminal pair that scripts/windows
// --test makes with socat and names in RZT_TEST_COM_PAIR ("11,12": numbers
// above 9, which only the "\\.\COMn" form reaches). The far end plays the
// controller. socat ends the pair after 20 s without traffic, and the near
// end's device goes, as an adapter's goes when it is pulled out.

#include "event_wait.h"
#include "win_serial_port.h"

#include <QDateTime>
#include <QTest>

#include <memory>

namespace {

const QByteArray poll_frame = QByteArray::fromHex("010300c8000a4433");
// socat's -T: the pair ends after this long without traffic.
constexpr int socat_idle_ms = 20000;

std::span<const uint8_t> bytes(const QByteArray &a)
{
    return {reinterpret_cast<const uint8_t *>(a.constData()), size_t(a.size())};
}

// Up to count bytes, as they arrive.
QByteArray receive(SerialPort &port, int count)
{
    QByteArray got;
    while (got.size() < count && port.wait_for_bytes(event_wait_ms)) {
        while (port.bytes_waiting() > 0)
            got.append(char(port.read_byte()));
    }
    return got;
}

} // namespace

class TestWinSerialPort : public QObject {
    Q_OBJECT

    int m_near = 0;
    std::unique_ptr<WinSerialPort> m_far;

    std::unique_ptr<WinSerialPort> open_near()
    {
        auto port = std::make_unique<WinSerialPort>(QString());
        if (port->set_port_number(m_near) != PortError::None || port->open() != PortError::None)
            return nullptr;
        return port;
    }

private slots:
    void initTestCase()
    {
        const QStringList pair = qEnvironmentVariable("RZT_TEST_COM_PAIR").split(QLatin1Char(','));
        if (pair.size() != 2)
            QSKIP("needs RZT_TEST_COM_PAIR=a,b, two COM ports joined like a null-modem cable "
                  "(scripts/windows --test makes them under Wine)");
        m_near = pair[0].toInt();
        m_far = std::make_unique<WinSerialPort>(QString());
        QCOMPARE(m_far->set_port_number(pair[1].toInt()), PortError::None);
        QCOMPARE(m_far->open(), PortError::None);
    }

    void frames_cross_whole_and_in_order()
    {
        auto port = open_near();
        QVERIFY(port);
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        port->write_frame(bytes(poll_frame));
        QCOMPARE(receive(*m_far, int(poll_frame.size())).toHex(' '), poll_frame.toHex(' '));

        // More than one read of the driver's buffer holds.
        QByteArray reply(700, Qt::Uninitialized);
        for (int i = 0; i < reply.size(); ++i)
            reply[i] = char(i % 251);
        m_far->write_frame(bytes(reply));
        QCOMPARE(receive(*port, int(reply.size())), reply);
        QVERIFY(port->last_byte_ms() >= before);
    }

    void refusals_say_why()
    {
        WinSerialPort port{QString()};
        QCOMPARE(port.set_device(QStringLiteral("COM99")), PortError::None);
        QCOMPARE(port.open(), PortError::NotAvailable);
        QVERIFY(!port.is_open() && !port.lost());
        QCOMPARE(port.set_port_number(last_port_number + 1), PortError::BadNumber);

        QCOMPARE(port.set_port_number(m_near), PortError::None);
        QCOMPARE(port.open(), PortError::None);
        QCOMPARE(port.open(), PortError::Busy);
        QCOMPARE(port.set_port_number(1), PortError::Busy);
        QCOMPARE(port.port_number(), m_near);
        port.close();
        QVERIFY(!port.is_open());
        QCOMPARE(port.bytes_waiting(), 0);
    }

    // Last: the pair is gone afterwards.
    void pulled_adapter_is_lost()
    {
        auto port = open_near();
        QVERIFY(port);
        QTRY_VERIFY_WITH_TIMEOUT(port->bytes_waiting() == 0 && port->lost(),
                                 socat_idle_ms + event_wait_ms);
        QVERIFY(!port->is_open());
        port->write_frame(bytes(poll_frame));
        port->close();
        QVERIFY(!port->lost());
        QCOMPARE(port->open(), PortError::NotAvailable);
    }
};

QTEST_MAIN(TestWinSerialPort)
#include "tst_win_serial_port.moc"
