// The Modbus TCP port against a server played by the test: what goes out for
// an RTU frame, which answers come back as RTU frames and which are dropped
// and counted. The port is reached through QtSerialPort, as the program
// reaches it. Both ends live in this thread and take turns with blocking waits.

#include "event_wait.h"
#include "frames.h"
#include "qt_serial_port.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

std::span<const uint8_t> bytes(const QByteArray &a)
{
    return {reinterpret_cast<const uint8_t *>(a.constData()), size_t(a.size())};
}

// transaction id, protocol id, length, then unit id and PDU
QByteArray mbap(int transaction, const QByteArray &unit_and_pdu, int protocol = 0)
{
    QByteArray f;
    for (int v : {transaction, protocol, int(unit_and_pdu.size())}) {
        f.append(char(v >> 8));
        f.append(char(v & 0xFF));
    }
    return f + unit_and_pdu;
}

int transaction_of(const QByteArray &f)
{
    return f.size() < 2 ? -1 : uint8_t(f[0]) << 8 | uint8_t(f[1]);
}

// Everything the port hands out within the wait.
QByteArray received(SerialPort &port)
{
    QByteArray got;
    if (port.wait_for_bytes(event_wait_ms)) {
        for (int n = port.bytes_waiting(); n > 0; --n)
            got.append(char(port.read_byte()));
    }
    return got;
}

// A register read and its answer, for unit 1.
const QByteArray read_request = hex("010300c8000a");
const QByteArray read_answer = hex("010314") + QByteArray(20, 7);

} // namespace

class TestMbtcpPort : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QTcpServer m_server;
    std::unique_ptr<QtSerialPort> m_port;
    QTcpSocket *m_peer = nullptr;

    // The port connected to the test's server, the server's end in m_peer.
    bool connect_port()
    {
        m_port = std::make_unique<QtSerialPort>(m_dir.filePath(QStringLiteral("тп.ini")));
        const QString device = QStringLiteral("mbtcp://127.0.0.1:%1").arg(m_server.serverPort());
        return m_port->set_device(device) == PortError::None && open_port();
    }

    bool open_port()
    {
        if (m_port->open() != PortError::None || !m_server.waitForNewConnection(event_wait_ms))
            return false;
        m_peer = m_server.nextPendingConnection();
        return m_peer != nullptr;
    }

    // What reached the server for one RTU frame written.
    QByteArray request_for(const QByteArray &rtu)
    {
        m_port->write_frame(bytes(rtu));
        QByteArray got;
        while (got.size() < 12 && m_peer->waitForReadyRead(event_wait_ms))
            got += m_peer->readAll();
        return got;
    }

    void answer(const QByteArray &frames)
    {
        m_peer->write(frames);
        m_peer->flush();
    }

private slots:
    void init() { QVERIFY(m_server.listen(QHostAddress::LocalHost)); }
    void cleanup()
    {
        m_port.reset();
        m_server.close();
    }

    void only_the_answer_to_the_latest_request_is_handed_out();
    void a_header_out_of_step_is_dropped_and_counted_data();
    void a_header_out_of_step_is_dropped_and_counted();
};

// A late answer to a request that timed out, the answer to the request now
// out, and that answer again: only the second is a reply, as an RTU frame.
void TestMbtcpPort::only_the_answer_to_the_latest_request_is_handed_out()
{
    QVERIFY(connect_port());
    const QByteArray first = request_for(with_crc(read_request));
    const int late = transaction_of(first);
    COMPARE_HEX(first, mbap(late, read_request));
    const QByteArray second = request_for(with_crc(read_request));
    const int now = transaction_of(second);
    QVERIFY2(now != late, qPrintable(second.toHex(' ')));

    const QByteArray stale = mbap(late, hex("018302"));
    const QByteArray fresh = mbap(now, read_answer);
    answer(stale + fresh + fresh);
    const QByteArray got = received(*m_port);
    COMPARE_HEX(got, with_crc(read_answer));
    QCOMPARE(m_port->take_dropped(), int(stale.size() + fresh.size()));
    QVERIFY(m_port->is_open());
}

void TestMbtcpPort::a_header_out_of_step_is_dropped_and_counted_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("length");
    QTest::newRow("protocol id 1") << 1 << int(read_answer.size());
    QTest::newRow("length 261") << 0 << 261;
    QTest::newRow("length 1") << 0 << 1;
}

// Nothing after a header that breaks the framing can be placed: nothing is
// handed out, every byte is counted, and the connection goes; opened again,
// the port answers as before.
void TestMbtcpPort::a_header_out_of_step_is_dropped_and_counted()
{
    QFETCH(int, protocol);
    QFETCH(int, length);
    QVERIFY(connect_port());
    const int t = transaction_of(request_for(with_crc(read_request)));
    // The request's own transaction, a whole answer behind the header, and
    // the same answer again in good order: only the header is wrong.
    const QByteArray bad = mbap(t, read_answer, protocol).left(4) + char(length >> 8) +
                           char(length & 0xFF) + read_answer;
    answer(bad + mbap(t, read_answer));
    QCOMPARE(received(*m_port), QByteArray());
    QVERIFY(m_port->lost());
    QVERIFY2(m_port->take_dropped() >= bad.size(), qPrintable(bad.toHex(' ')));

    m_port->close();
    QVERIFY(open_port());
    const int again = transaction_of(request_for(with_crc(read_request)));
    answer(mbap(again, read_answer));
    const QByteArray got = received(*m_port);
    COMPARE_HEX(got, with_crc(read_answer));
    QCOMPARE(m_port->take_dropped(), 0);
}

QTEST_MAIN(TestMbtcpPort)
#include "tst_mbtcp_port.moc"
