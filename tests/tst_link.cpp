// Request ring, CRC and the per-tick exchange, driven with a fake port.
#include "fake_serial_port.h"
#include "frames.h"
#include "modbus.h"

#include <QTest>

Q_DECLARE_METATYPE(Verdict)

namespace {

// A measurement block with all data bytes zero.
const QByteArray zero_block = with_crc(hex("010314") + QByteArray(20, 0));

struct Rig {
    FakeSerialPort port;
    Modbus m;
    Exchange last;
    Rig()
    {
        port.make_free({1});
        port.open();
        m.port = &port;
        m.address = 1;
        m.idle_pdu = {3, 0, 200, 0, 10};
        m.idle_record = record_of(hex("0300c8000a"));
    }
    QByteArray last_written() const
    {
        return port.written.isEmpty() ? QByteArray() : port.written.last();
    }
    [[nodiscard]] bool enqueue(const QByteArray &pdu) { return push_pdu(m.ring, pdu); }
    Verdict step()
    {
        last = exchange_step(m);
        return last.verdict;
    }
};

const QByteArray default_poll = hex("010300c8000a4433");

} // namespace

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void crc_catalogue_values()
    {
        const QByteArray check("123456789");
        QCOMPARE(crc16(check, 8), uint16_t(0x4B37));
        QCOMPARE(crc16(hex("010300c8000a"), 5), uint16_t(0x3344));
    }

    void byte_of_data()
    {
        QCOMPARE(byte_of(0x12345678, 0), uint8_t(0x78));
        QCOMPARE(byte_of(0x12345678, 1), uint8_t(0x56));
        QCOMPARE(byte_of(0x12345678, 2), uint8_t(0x34));
        QCOMPARE(byte_of(0x12345678, 3), uint8_t(0x12));
        QCOMPARE(byte_of(0x12345678, 4), uint8_t(0));
        QCOMPARE(byte_of(-1, 3), uint8_t(255));
        QCOMPARE(byte_of(200, 1), uint8_t(0));
        QCOMPARE(byte_of(200, 0), uint8_t(200));
    }

    void ring_wraps_at_the_end()
    {
        RequestRing ring;
        ring.req_write_idx = ring.req_read_idx = 511;
        QVERIFY(advance_write_idx(ring));
        QCOMPARE(ring.req_write_idx, int16_t(0));
        QCOMPARE(ring.pending(), 1);
        advance_read_idx(ring);
        QCOMPARE(ring.req_read_idx, int16_t(0));
        QVERIFY(ring.empty());
    }

    void ring_refuses_the_512th_request()
    {
        RequestRing ring;
        ring.req_write_idx = ring.req_read_idx = 300; // anywhere, wrapping included
        for (int i = 0; i < 511; ++i)
            QVERIFY(push(ring, record_of(QByteArray(1, char(i))), {}));
        QVERIFY(ring.full());
        QVERIFY(!push(ring, record_of(hex("ee")), {}));
        QVERIFY(!advance_write_idx(ring));
        QCOMPARE(ring.pending(), 511);
        // Every pending request is still there, oldest first.
        for (int i = 0; i < 511; ++i) {
            QCOMPARE(ring.req_queue[size_t(ring.req_read_idx)][1], uint8_t(i));
            advance_read_idx(ring);
        }
        QVERIFY(ring.empty());
        advance_read_idx(ring); // a stray removal on an empty ring changes nothing
        QVERIFY(ring.empty());
    }

    void push_fills_one_slot_and_refuses_what_cannot_be_sent()
    {
        RequestRing ring;
        const uint8_t body[] = {1, 6, 2, 0, 0x7d};
        QVERIFY(push(ring, record_of(hex("65010602")), body));
        COMPARE_HEX(pdu_at(ring, 0), hex("65010602007d"));
        QCOMPARE(ring.req_queue[0][0], uint8_t(0));
        // The sender counts a PDU with 8 bits: 254 bytes at most.
        const std::vector<uint8_t> longest(253, 0x11), too_long(254, 0x11);
        QVERIFY(push(ring, record_of(hex("03")), longest));
        QVERIFY(!push(ring, record_of(hex("03")), too_long));
        QCOMPARE(ring.pending(), 2);
    }

    void empty_ring_sends_the_default_poll()
    {
        Rig r;
        QCOMPARE(r.step(), Verdict::no_answer);
        QCOMPARE(r.port.written.size(), 1);
        COMPARE_HEX(r.last_written(), default_poll);
        QCOMPARE(r.m.ring.req_write_idx, int16_t(1));
        QCOMPARE(r.m.ring.req_read_idx, int16_t(0));
    }

    void reply_judging_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<int>("exception");
        QTest::newRow("nothing") << QByteArray() << Verdict::no_answer << -1;
        QTest::newRow("1 byte") << hex("01") << Verdict::no_answer << -1;
        QTest::newRow("2 bytes") << hex("0103") << Verdict::no_answer << -1;
        // Three bytes: the CRC covers the first byte alone, and with no
        // function it answers nothing.
        QTest::newRow("3 bytes good") << with_crc(hex("01")) << Verdict::unmatched << -1;
        QTest::newRow("3 bytes bad") << hex("010000") << Verdict::crc_mismatch << -1;
        const QByteArray answer = with_crc(hex("01640101056465660000"));
        QTest::newRow("its answer") << answer << Verdict::good << -1;
        QByteArray corrupt = answer;
        corrupt[7] = char(corrupt[7] ^ 0x10);
        QTest::newRow("corrupt answer") << corrupt << Verdict::crc_mismatch << -1;
        QTest::newRow("two replies") << answer + answer << Verdict::crc_mismatch << -1;
        // Good frames that answer something else leave the request at the head.
        QTest::newRow("another function") << zero_block << Verdict::unmatched << -1;
        QTest::newRow("another address")
            << with_crc(hex("02640101056465660000")) << Verdict::unmatched << -1;
        QTest::newRow("exception") << with_crc(hex("01e402")) << Verdict::good << 2;
        QTest::newRow("another's exception") << with_crc(hex("018302")) << Verdict::unmatched << -1;
        // From the address asked, with its function and a good CRC, but not
        // the reply the request implies: never data, and asked again.
        QTest::newRow("exception cut short") << with_crc(hex("01e4")) << Verdict::malformed << -1;
        QTest::newRow("exception too long")
            << with_crc(hex("01e40200")) << Verdict::malformed << -1;
        QTest::newRow("another start address")
            << with_crc(hex("01640106056465660000")) << Verdict::malformed << -1;
        QTest::newRow("count short of the bytes asked")
            << with_crc(hex("016401010464656600")) << Verdict::malformed << -1;
        QTest::newRow("count says more than the frame holds")
            << with_crc(hex("0164010108007d01")) << Verdict::malformed << -1;
        QTest::newRow("bytes after the data")
            << with_crc(hex("0164010105646566000000")) << Verdict::malformed << -1;
    }
    void reply_judging()
    {
        QFETCH(QByteArray, reply);
        QFETCH(Verdict, verdict);
        QFETCH(int, exception);
        Rig r;
        QVERIFY(r.enqueue(hex("64010105")));
        r.step(); // sends the read request
        COMPARE_HEX(r.last_written(), with_crc(hex("0164010105")));
        r.port.incoming = reply;
        r.port.last_byte = 1000;
        QCOMPARE(r.step(), verdict);
        QCOMPARE(r.last.exception_code, exception);
        QVERIFY(r.port.incoming.isEmpty());
        // The record pairs the reply with the request it answers.
        COMPARE_HEX(r.last.reply, reply);
        COMPARE_HEX(r.last.request, with_crc(hex("0164010105")));
        QCOMPARE(r.last.reply_ms, reply.isEmpty() ? 0 : 1000);
        // A removed head lets the default poll go out; otherwise the request is repeated.
        const bool head_removed = verdict == Verdict::good;
        COMPARE_HEX(r.last_written(), head_removed ? default_poll : with_crc(hex("0164010105")));
        COMPARE_HEX(r.last.sent, r.last_written());
    }

    void reply_split_across_two_ticks()
    {
        Rig r;
        r.step();
        r.port.incoming = zero_block.left(10);
        QCOMPARE(r.step(), Verdict::crc_mismatch);
        // The remainder and the answer to the repeat form one invalid frame.
        r.port.incoming = zero_block.mid(10) + zero_block;
        QCOMPARE(r.step(), Verdict::crc_mismatch);
        r.port.incoming = zero_block;
        QCOMPARE(r.step(), Verdict::good);
        QCOMPARE(r.port.written.size(), 4);
        for (const QByteArray &frame : r.port.written)
            COMPARE_HEX(frame, default_poll);
    }

    // A function-3 reply is the registers asked, no more and no fewer, with
    // a byte count that says so.
    void measurement_reply_length_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Verdict>("verdict");
        QTest::newRow("ten registers") << zero_block << Verdict::good;
        QTest::newRow("count 2, 20 data bytes")
            << with_crc(hex("010302") + QByteArray(20, 7)) << Verdict::malformed;
        QTest::newRow("forty registers")
            << with_crc(hex("010350") + QByteArray(80, 7)) << Verdict::malformed;
        QTest::newRow("one register short")
            << with_crc(hex("010312") + QByteArray(18, 7)) << Verdict::malformed;
        QTest::newRow("255 bytes with a good CRC")
            << with_crc(hex("0103") + QByteArray(251, char(0x07))) << Verdict::malformed;
    }
    void measurement_reply_length()
    {
        QFETCH(QByteArray, reply);
        QFETCH(Verdict, verdict);
        Rig r;
        r.step();
        r.port.incoming = reply;
        QCOMPARE(r.step(), verdict);
        // Not answered: the poll is still at the head and goes out again.
        QCOMPARE(r.m.ring.pending(), 1);
    }

    // A line that never stops sending: each tick takes a bounded share, drops
    // what waits beyond it as noise in one go, and ends.
    void a_flood_is_noise_and_never_holds_the_tick()
    {
        struct Flood : FakeSerialPort {
            int reads = 0;
            int discards = 0;
            int bytes_waiting() override { return is_open() ? 1 << 20 : 0; }
            uint8_t read_byte() override { return ++reads, 0x55; }
            int discard_waiting() override { return ++discards, 1 << 20; }
        };
        Flood flood;
        flood.make_free({1});
        flood.open();
        Modbus m;
        m.port = &flood;
        m.address = 1;
        m.idle_pdu = {3, 0, 200, 0, 10};
        m.idle_record = record_of(hex("0300c8000a"));
        for (int tick = 0; tick < 3; ++tick) {
            const Exchange e = exchange_step(m);
            QCOMPARE(e.verdict, Verdict::crc_mismatch);
            QVERIFY(e.noise >= 1 << 20);
        }
        QVERIFY2(flood.reads <= 3 * 512, qPrintable(QString::number(flood.reads)));
        QCOMPARE(flood.discards, 3);
        QCOMPARE(flood.written.size(), 3); // the poll still goes out every tick
    }

    // What the line talks to changed while a frame was out: its reply, late,
    // is the previous controller's and answers nothing now.
    void a_reply_for_an_earlier_generation_answers_nothing()
    {
        Rig r;
        QVERIFY(r.enqueue(hex("64010608")));
        r.step();
        next_generation(r.m);
        r.port.incoming = with_crc(hex("01640106080000007d00000000"));
        QCOMPARE(r.step(), Verdict::unmatched);
        // And a request still queued from before is not answered either.
        r.port.incoming = with_crc(hex("01640106080000007d00000000"));
        QCOMPARE(r.step(), Verdict::unmatched);
        QCOMPARE(r.m.ring.pending(), 1);
    }

    void closed_port_writes_nothing()
    {
        Rig r;
        r.port.close();
        r.port.incoming = zero_block; // unreadable while closed
        QCOMPARE(r.step(), Verdict::no_answer);
        QVERIFY(!r.last.port_open);
        QVERIFY(r.last.sent.isEmpty());
        QVERIFY(r.port.written.isEmpty());
        r.port.open();
        r.port.incoming.clear();
        QCOMPARE(r.step(), Verdict::no_answer);
        QVERIFY(r.last.port_open);
        QVERIFY(r.last.request.isEmpty()); // nothing was asked on the closed port
        QCOMPARE(r.port.written.size(), 1);
        COMPARE_HEX(r.last_written(), default_poll);
    }

    void slave_address_taken_at_send_time()
    {
        Rig r;
        QVERIFY(r.enqueue(hex("64010e01")));
        r.m.address = 0;
        r.step();
        COMPARE_HEX(r.last_written(), with_crc(hex("0064010e01")));
        r.m.address = 127;
        r.step();
        COMPARE_HEX(r.last_written(), with_crc(hex("7f64010e01")));
        r.m.address = -1; // nothing selected: nothing can be addressed
        r.step();
        QCOMPARE(r.port.written.size(), 2);
    }

    void requests_go_out_in_order_between_polls()
    {
        Rig r;
        r.step(); // default poll pending
        QVERIFY(r.enqueue(hex("64010105")));
        QVERIFY(r.enqueue(hex("65010602007d")));
        const QByteArray answers[] = {zero_block, with_crc(hex("01640101050000000000")),
                                      with_crc(hex("0165010602007d")), zero_block};
        QList<QByteArray> sent;
        for (const QByteArray &answer : answers) {
            r.port.incoming = answer;
            QCOMPARE(r.step(), Verdict::good);
            sent.append(r.last_written());
        }
        COMPARE_HEX(sent[0], with_crc(hex("0164010105")));
        COMPARE_HEX(sent[1], with_crc(hex("0165010602007d")));
        COMPARE_HEX(sent[2], default_poll);
        COMPARE_HEX(sent[3], default_poll);
        QCOMPARE(r.m.ring.pending(), 1);
    }

    // Writes dropped from the ring (the line pointed elsewhere): a late
    // echo of the one that was out must not pass for the next one's answer.
    void reply_to_a_dropped_head_answers_nothing()
    {
        Rig r;
        QVERIFY(r.enqueue(hex("65010602007d")));
        QVERIFY(r.enqueue(hex("65010602007e")));
        r.step();
        QCOMPARE(drop_requests(r.m, [&](int slot) { return slot == r.m.ring.req_read_idx; }), 1);
        r.port.incoming = with_crc(hex("0165010602007d"));
        QCOMPARE(r.step(), Verdict::unmatched);
        COMPARE_HEX(r.last_written(), with_crc(hex("0165010602007e")));
        QCOMPARE(r.m.ring.pending(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
