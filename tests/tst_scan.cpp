// The address scan on an in-memory port: the frames it sends, which replies
// make a hit, the versions asked of a hit, and stopping.

#include "fake_serial_port.h"
#include "frames.h"
#include "registers.h"
#include "scan.h"

#include <QMap>
#include <QTest>

#include <memory>

namespace {

// Answers a written frame with the bytes given for it, if any.
class AnsweringPort : public FakeSerialPort {
public:
    QMap<QByteArray, QByteArray> answers;

    void write_frame(std::span<const uint8_t> frame) override
    {
        FakeSerialPort::write_frame(frame);
        incoming += answers.value(written.last());
    }
};

const QByteArray ask_5 = hex("050300c800010470");
const QByteArray versions_5 = hex("050300c9000215b1");

} // namespace

class TestScan : public QObject {
    Q_OBJECT

    std::unique_ptr<AnsweringPort> m_owned;
    AnsweringPort &port() { return *m_owned; }

private slots:
    void init();
    void hits_data();
    void hits();
    void asks_every_address_and_stops_when_told();
};

void TestScan::init()
{
    m_owned = std::make_unique<AnsweringPort>();
    port().make_free({1});
    QCOMPARE(port().open(), PortError::None);
}

void TestScan::hits_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("versions");
    QTest::addColumn<QByteArray>("stale"); // waiting before the scan starts
    QTest::addColumn<bool>("hit");
    QTest::addColumn<QString>("protocol");

    const QByteArray reg200 = hex("05030202 0588e7");
    const QByteArray both = hex("0503040205010cafdf");
    QTest::newRow("reply") << reg200 << both << QByteArray() << true << "2.05";
    QTest::newRow("exception proves a device")
        << hex("0583028130") << both << QByteArray() << true << "2.05";
    QTest::newRow("versions refused") << reg200 << hex("0583028130") << QByteArray() << true << "";
    QTest::newRow("bytes waiting are dropped first")
        << reg200 << both << hex("0503020205") << true << "2.05";
    QTest::newRow("other address") << hex("0603020205cce7") << both << QByteArray() << false << "";
    QTest::newRow("bad crc") << hex("0503020205e788") << both << QByteArray() << false << "";
    QTest::newRow("other function")
        << with_crc(hex("0504020205")) << both << QByteArray() << false << "";
    QTest::newRow("cut short") << hex("0503020205") << both << QByteArray() << false << "";
}

void TestScan::hits()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, versions);
    QFETCH(QByteArray, stale);
    QFETCH(bool, hit);
    QFETCH(QString, protocol);

    port().answers[ask_5] = reply;
    port().answers[versions_5] = versions;
    port().incoming = stale;
    const QList<ScanHit> hits = scan_addresses(port(), {5, 6, 5});

    QCOMPARE(hits.size(), hit ? 1 : 0);
    COMPARE_HEX(port().written.value(0), ask_5);
    QCOMPARE(port().incoming, QByteArray());
    if (!hit) {
        QCOMPARE(port().written.size(), 2);
        return;
    }
    QCOMPARE(hits[0].address, 5);
    COMPARE_HEX(port().written.value(1), versions_5);
    QCOMPARE(hits[0].versions_known, !protocol.isEmpty());
    if (hits[0].versions_known) {
        QCOMPARE(version_text(hits[0].protocol), protocol);
        QCOMPARE(version_text(hits[0].software), QStringLiteral("1.12"));
    }
}

void TestScan::asks_every_address_and_stops_when_told()
{
    QList<int> asked;
    scan_addresses(port(), {1, 247, 1}, [&](int address) {
        asked.append(address);
        return true;
    });
    QCOMPARE(asked.size(), 247);
    QCOMPARE(port().written.size(), 247);
    COMPARE_HEX(port().written.first(), hex("010300c8000105f4"));
    COMPARE_HEX(port().written.last().left(6), hex("f70300c80001"));

    port().written.clear();
    scan_addresses(port(), {1, 247, 1}, [](int address) { return address < 3; });
    QCOMPARE(port().written.size(), 2);
}

QTEST_MAIN(TestScan)
#include "tst_scan.moc"
