// Request ring, CRC and the per-tick exchange, driven with a fake port.
#include "fake_serial_port.h"
#include "fake_view.h"
#include "frames.h"
#include "modbus.h"
#include "par_table.h"

#include <QTest>

namespace {

// A measurement block with all data bytes zero.
const QByteArray zero_block = with_crc(hex("010314") + QByteArray(20, 0));

struct Rig {
    FakeSerialPort port;
    FakeView view;
    ParTable table;
    Modbus m;
    Rig()
    {
        port.make_free({1});
        port.open();
        par_table_init(table);
        m.port = &port;
        m.view = &view;
        m.table = &table;
    }
    QByteArray last_written() const { return port.written.isEmpty() ? QByteArray() : port.written.last(); }
    void enqueue(const QByteArray &pdu)
    {
        auto &slot = m.ring.write_slot();
        slot[0] = 0;
        for (int i = 0; i < pdu.size(); ++i)
            slot[size_t(i) + 1] = uint8_t(pdu[i]);
        m.ring.req_len[size_t(m.ring.req_write_idx)] = int32_t(pdu.size());
        QVERIFY(advance_write_idx(m.ring));
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
        for (int i = 0; i < 511; ++i) {
            ring.write_slot()[1] = uint8_t(i);
            ring.req_len[size_t(ring.req_write_idx)] = 1;
            QVERIFY(advance_write_idx(ring));
        }
        QVERIFY(ring.full());
        ring.write_slot()[1] = 0xEE;
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

    void empty_ring_sends_the_default_poll()
    {
        Rig r;
        exchange_step(r.m);
        QCOMPARE(r.view.status_text, text_no_answer);
        QCOMPARE(r.port.written.size(), 1);
        COMPARE_HEX(r.last_written(), default_poll);
        QCOMPARE(r.m.ring.req_write_idx, int16_t(1));
        QCOMPARE(r.m.ring.req_read_idx, int16_t(0));
    }

    void reply_judging_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("head_removed");
        QTest::newRow("nothing") << QByteArray() << text_no_answer << false;
        QTest::newRow("1 byte") << hex("01") << text_no_answer << false;
        QTest::newRow("2 bytes") << hex("0103") << text_no_answer << false;
        // Three bytes: the CRC covers the first byte alone.
        QTest::newRow("3 bytes good") << with_crc(hex("01")) << text_link_ok << true;
        QTest::newRow("3 bytes bad") << hex("010000") << text_crc_mismatch << false;
        QTest::newRow("good block") << zero_block << text_link_ok << true;
        QByteArray corrupt = zero_block;
        corrupt[7] = char(corrupt[7] ^ 0x10);
        QTest::newRow("corrupt block") << corrupt << text_crc_mismatch << false;
        QTest::newRow("two replies") << zero_block + zero_block << text_crc_mismatch << false;
        QTest::newRow("exception") << with_crc(hex("018302")) << text_link_ok + " Нарушение протокола, код: 2"
                                   << true;
    }
    void reply_judging()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        QFETCH(bool, head_removed);
        Rig r;
        r.enqueue(hex("64010105"));
        exchange_step(r.m); // sends the read request
        COMPARE_HEX(r.last_written(), with_crc(hex("0164010105")));
        r.port.incoming = reply;
        exchange_step(r.m);
        QCOMPARE(r.view.status_text, status);
        QVERIFY(r.port.incoming.isEmpty());
        // A removed head lets the default poll go out; otherwise the request is repeated.
        COMPARE_HEX(r.last_written(), head_removed ? default_poll : with_crc(hex("0164010105")));
    }

    void status_is_set_before_decoding()
    {
        Rig r;
        exchange_step(r.m);
        r.port.incoming = with_crc(hex("018302"));
        exchange_step(r.m);
        QCOMPARE(r.view.status_history.last(), text_link_ok + " Нарушение протокола, код: 2");
        QCOMPARE(r.view.status_history.at(r.view.status_history.size() - 2), text_link_ok);
    }

    void reply_split_across_two_ticks()
    {
        Rig r;
        exchange_step(r.m);
        r.port.incoming = zero_block.left(10);
        exchange_step(r.m);
        QCOMPARE(r.view.status_text, text_crc_mismatch);
        // The remainder and the answer to the repeat form one invalid frame.
        r.port.incoming = zero_block.mid(10) + zero_block;
        exchange_step(r.m);
        QCOMPARE(r.view.status_text, text_crc_mismatch);
        r.port.incoming = zero_block;
        exchange_step(r.m);
        QCOMPARE(r.view.status_text, text_link_ok);
        QCOMPARE(r.port.written.size(), 4);
        for (const QByteArray &frame : r.port.written)
            COMPARE_HEX(frame, default_poll);
    }

    void overlong_input_is_drained()
    {
        Rig r;
        exchange_step(r.m);
        QByteArray flood(300, char(0x55));
        flood.replace(0, 3, hex("0199aa"));
        r.port.incoming = flood;
        exchange_step(r.m);
        QCOMPARE(int(r.m.rx_count), 255);
        QVERIFY(r.port.incoming.isEmpty());
        QCOMPARE(r.view.status_text, text_crc_mismatch);
        // 255 bytes kept, so a frame whose CRC fits the first 255 bytes passes.
        QByteArray fits = with_crc(QByteArray(253, char(0x07)));
        r.port.incoming = fits + QByteArray(20, char(0x01));
        exchange_step(r.m);
        QCOMPARE(r.view.status_text, text_link_ok);
    }

    void closed_port_writes_nothing()
    {
        Rig r;
        r.port.close();
        r.port.incoming = zero_block; // unreadable while closed
        exchange_step(r.m);
        QVERIFY(r.port.written.isEmpty());
        QCOMPARE(r.view.status_text, text_no_answer);
        r.port.open();
        r.port.incoming.clear();
        exchange_step(r.m);
        QCOMPARE(r.view.status_text, text_no_answer);
        QCOMPARE(r.port.written.size(), 1);
        COMPARE_HEX(r.last_written(), default_poll);
    }

    void slave_address_taken_at_send_time()
    {
        Rig r;
        r.enqueue(hex("64010e01"));
        r.view.address = 0;
        exchange_step(r.m);
        COMPARE_HEX(r.last_written(), with_crc(hex("0064010e01")));
        r.view.address = 127;
        exchange_step(r.m);
        COMPARE_HEX(r.last_written(), with_crc(hex("7f64010e01")));
        r.view.address = -1; // nothing selected: nothing can be addressed
        exchange_step(r.m);
        QCOMPARE(r.port.written.size(), 2);
    }

    void requests_go_out_in_order_between_polls()
    {
        Rig r;
        exchange_step(r.m); // default poll pending
        r.enqueue(hex("64010105"));
        r.enqueue(hex("65010602007d"));
        const QByteArray ok = with_crc(hex("0103")); // any good frame answers the head
        QList<QByteArray> sent;
        for (int i = 0; i < 4; ++i) {
            r.port.incoming = ok;
            exchange_step(r.m);
            sent.append(r.last_written());
        }
        COMPARE_HEX(sent[0], with_crc(hex("0164010105")));
        COMPARE_HEX(sent[1], with_crc(hex("0165010602007d")));
        COMPARE_HEX(sent[2], default_poll);
        COMPARE_HEX(sent[3], default_poll);
        QCOMPARE(r.m.ring.pending(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
