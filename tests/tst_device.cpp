// Parameter requests and reply decoding: what reaches the controller's
// memory and what the operator sees must be exact to the byte.
#include "fake_serial_port.h"
#include "fake_view.h"
#include "frames.h"
#include "modbus.h"
#include "par_exchange.h"

#include <QLocale>
#include <QTest>

namespace {

QList<QByteArray> queued(const RequestRing &ring)
{
    QList<QByteArray> out;
    for (int s = ring.req_read_idx; s != ring.req_write_idx; s = (s + 1) % ring_slots)
        out.append(pdu_at(ring, s));
    return out;
}

struct Rig {
    FakeView view;
    ParTable table;
    Modbus m;
    Rig()
    {
        par_table_init(table);
        m.view = &view;
        m.table = &table;
    }
    // Puts a whole frame (CRC included) into the receive buffer and decodes it,
    // as the exchange does for a reply with a good CRC.
    void receive(const QByteArray &frame)
    {
        for (int i = 0; i < frame.size(); ++i)
            m.rx_buf[size_t(i)] = uint8_t(frame[i]);
        m.rx_count = uint8_t(frame.size());
        decode_reply(m);
    }
    BoxAt boxes()
    {
        return [this](int i) -> const ParBox & { return view.boxes[size_t(i)]; };
    }
};

} // namespace

class TestDevice : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void groups_follow_the_memory_layout()
    {
        ParTable t;
        par_table_init(t);
        const auto g = par_groups(t);
        QCOMPARE(g.size(), size_t(3));
        const int want[3][3] = {{0, 4, 5}, {4, 4, 8}, {8, 1, 1}};
        for (size_t k = 0; k < 3; ++k) {
            QCOMPARE(g[k].first, want[k][0]);
            QCOMPARE(g[k].count, want[k][1]);
            QCOMPARE(g[k].bytes, want[k][2]);
        }
        QCOMPARE(par_index_of(t, 262), 4);
        QCOMPARE(par_index_of(t, 261), par_none);
    }

    void read_all_queues_three_requests()
    {
        Rig r;
        par_readall(r.m.ring, r.table);
        const auto q = queued(r.m.ring);
        QCOMPARE(q.size(), 3);
        COMPARE_HEX(q[0], hex("64010105"));
        COMPARE_HEX(q[1], hex("64010608"));
        COMPARE_HEX(q[2], hex("64010e01"));
    }

    void write_all_queues_three_requests()
    {
        Rig r;
        const char *texts[] = {"100", "256", "-5", "1,5", "12,5", "70", "7000", "0.0015", "1"};
        for (int i = 0; i < 9; ++i)
            r.view.boxes[size_t(i)].value = QString::fromUtf8(texts[i]);
        par_writeall(r.m.ring, r.table, r.boxes());
        const auto q = queued(r.m.ring);
        QCOMPARE(q.size(), 3);
        COMPARE_HEX(q[0], hex("6501010564ff0005dc"));
        COMPARE_HEX(q[1], hex("65010608" "007d" "ffff" "ffff" "0002"));
        COMPARE_HEX(q[2], hex("65010e0101"));
    }

    void write_all_before_any_reply_writes_zeros()
    {
        Rig r; // every box still shows "-"
        par_writeall(r.m.ring, r.table, r.boxes());
        const auto q = queued(r.m.ring);
        COMPARE_HEX(q[0], hex("650101050000000000"));
        COMPARE_HEX(q[1], hex("650106080000000000000000"));
        COMPARE_HEX(q[2], hex("65010e0100"));
    }

    void single_write_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("pdu");
        QTest::newRow("timer 12,5") << 4 << "12,5" << hex("65010602007d");
        QTest::newRow("timer 12.5") << 4 << "12.5" << hex("65010602007d");
        QTest::newRow("trim 256") << 0 << "256" << hex("65010101ff");
        QTest::newRow("trim -5") << 0 << "-5" << hex("6501010100");
        QTest::newRow("ct 7000") << 6 << "7000" << hex("65010a02ffff");
        QTest::newRow("imax 1,5") << 3 << "1,5" << hex("6501040205dc");
        QTest::newRow("imax 70") << 3 << "70" << hex("65010402ffff");
        QTest::newRow("relay text") << 8 << "on" << hex("65010e0100");
        QTest::newRow("shown value") << 7 << "0.123 " << hex("65010c02007b");
    }
    void single_write()
    {
        QFETCH(int, index);
        QFETCH(QString, text);
        QFETCH(QByteArray, pdu);
        Rig r;
        r.view.boxes[size_t(index)].value = text;
        const int32_t raw = par_box_raw(r.table, index, r.view.boxes[size_t(index)]);
        QVERIFY(par_write_request(r.m.ring, par_addr(r.table, index), raw,
                                  par_width(r.table, index)));
        COMPARE_HEX(queued(r.m.ring).value(0), pdu);
    }

    void producers_clamp_their_byte_counts()
    {
        RequestRing ring;
        par_read_request(ring, 257, 9);
        par_write_request(ring, 257, 0x01020304, 5);
        const auto q = queued(ring);
        COMPARE_HEX(q[0], hex("64010108"));
        COMPARE_HEX(q[1], hex("6501010401020304"));
    }

    void measurement_block_data()
    {
        QTest::addColumn<QByteArray>("data"); // registers 200..209, 20 bytes
        QTest::addColumn<QStringList>("shown"); // pr, sw, A, B, C, f, ain1, ain2
        QTest::newRow("zeros") << QByteArray(20, 0)
                               << QStringList{"0 .00 ", "0 .00 ", "0 ", "0 ", "0 ", "0 ", "0 ", "0 "};
        QTest::newRow("typical")
            << hex("0000" "0205" "020c" "0000" "04b0" "ffff" "0001" "1388" "0007" "00ff")
            << QStringList{"2 .05 ", "2 .12 ", "1.2 ", "65.535 ", "0.001 ", "50 ", "7 ", "255 "};
        QTest::newRow("minor 9 and 150")
            << hex("0000" "0109" "0296" "0000" "0000" "0000" "0000" "1389" "0000" "0000")
            << QStringList{"1 .09 ", "2 .150 ", "0 ", "0 ", "0 ", "50.01 ", "0 ", "0 "};
    }
    void measurement_block()
    {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, shown);
        Rig r;
        r.receive(with_crc(hex("010314") + data));
        const Caption order[] = {Caption::pr_ver, Caption::sw_ver, Caption::phAI, Caption::phBI,
                                 Caption::phCI,   Caption::fr,     Caption::ain_0, Caption::ain_1};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(r.view.caption(order[i]), shown[i]);
        for (const auto &box : r.view.boxes)
            QCOMPARE(box.value, QStringLiteral("-"));
    }

    void comma_locale_in_the_labels()
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Rig r;
        r.receive(with_crc(hex("010314") + hex("0000020500000000ffff000000001388000000ff")));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(r.view.caption(Caption::phAI), QStringLiteral("65,535 "));
        QCOMPARE(r.view.caption(Caption::fr), QStringLiteral("50 "));
    }

    void grouped_reply_fills_four_boxes_green()
    {
        Rig r;
        r.receive(with_crc(hex("0164010105" "64" "65" "66" "05dc")));
        const char *want[] = {"100 ", "101 ", "102 ", "1.5 "};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(r.view.boxes[size_t(i)].value, QString::fromUtf8(want[i]));
            QCOMPARE(r.view.boxes[size_t(i)].colour, colour_green);
        }
        QCOMPARE(r.view.boxes[4].value, QStringLiteral("-"));
        // A write answer carries the written data and is shown the same way.
        r.receive(with_crc(hex("0165010602007d")));
        QCOMPARE(r.view.boxes[4].value, QStringLiteral("12.5 "));
        QCOMPARE(r.view.boxes[4].colour, colour_green);
    }

    void replies_that_change_nothing_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("unknown address") << with_crc(hex("0164010d0105"));
        QTest::newRow("no data") << with_crc(hex("0164010100"));
        QTest::newRow("function 4") << with_crc(hex("010414") + QByteArray(20, 1));
        QTest::newRow("exception") << with_crc(hex("01e402"));
    }
    void replies_that_change_nothing()
    {
        QFETCH(QByteArray, frame);
        Rig r;
        r.receive(frame);
        for (const auto &box : r.view.boxes)
            QCOMPARE(box.value, QStringLiteral("-"));
        QVERIFY(r.view.captions.empty());
    }

    void exception_appends_its_code()
    {
        Rig r;
        r.view.status_text = text_link_ok;
        r.receive(with_crc(hex("018302")));
        QCOMPARE(r.view.status_text, text_link_ok + " Нарушение протокола, код: 2");
    }

    void reply_never_runs_past_the_last_parameter()
    {
        Rig r;
        r.receive(with_crc(hex("0164010e050102030405")));
        QCOMPARE(r.view.boxes[8].value, QStringLiteral("1 "));
        for (int i = 0; i < 8; ++i)
            QCOMPARE(r.view.boxes[size_t(i)].value, QStringLiteral("-"));
    }

    void only_bytes_of_the_current_reply_are_used()
    {
        Rig r;
        // A full block first, so the buffer holds old bytes behind a short reply.
        r.receive(with_crc(hex("010314") + hex("0000020500000000" "04b0" "04b0" "04b0" "1388"
                                              "0001" "0002")));
        r.receive(with_crc(hex("010304" "0000" "0307")));
        QCOMPARE(r.view.caption(Caption::pr_ver), QStringLiteral("3 .07 "));
        QCOMPARE(r.view.caption(Caption::phAI), QStringLiteral("1.2 ")); // untouched

        // Byte count claims 8, the frame carries 3: box 4 filled, box 5 left alone.
        r.receive(with_crc(hex("0164010608" "007d" "01")));
        QCOMPARE(r.view.boxes[4].value, QStringLiteral("12.5 "));
        QCOMPARE(r.view.boxes[5].value, QStringLiteral("-"));
        QVERIFY(r.view.boxes[5].colour != colour_green);
    }

    void write_all_without_edits_writes_back_what_was_read_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("point") << QLocale::c();
        QTest::newRow("comma") << QLocale(QLocale::Russian, QLocale::Russia);
    }
    void write_all_without_edits_writes_back_what_was_read()
    {
        QFETCH(QLocale, locale);
        QLocale::setDefault(locale);
        Rig r;
        const QByteArray first = hex("ff007fffff");
        const QByteArray second = hex("0001" "3039" "ffff" "0333");
        r.receive(with_crc(hex("0164010105") + first));
        r.receive(with_crc(hex("0164010608") + second));
        r.receive(with_crc(hex("0164010e01" "01")));
        par_writeall(r.m.ring, r.table, r.boxes());
        QLocale::setDefault(QLocale::c());
        const auto q = queued(r.m.ring);
        COMPARE_HEX(q[0], hex("65010105") + first);
        COMPARE_HEX(q[1], hex("65010608") + second);
        COMPARE_HEX(q[2], hex("65010e0101"));
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
