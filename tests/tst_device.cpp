// Parameter requests and the reading stream: what reaches the controller's
// memory must be exact to the byte, and what comes back must reach every
// listener as the same plain values.
#include "decode.h"
#include "fake_serial_port.h"
#include "frames.h"
#include "master.h"
#include "registers.h"

#include <QDateTime>
#include <QLocale>
#include <QTest>

namespace {

// A good reply as the decoder reads it, for the request it fits: the
// measurement block, or the parameters it names.
Reply decoded(const QByteArray &frame)
{
    RxBuf rx{};
    for (int i = 0; i < frame.size(); ++i)
        rx[size_t(i)] = uint8_t(frame[i]);
    ParTable table;
    par_table_init(table);
    const QByteArray pdu = frame.mid(1, frame.size() - 3);
    const RequestRecord asked =
        uint8_t(pdu[0]) == 3 ? record_of(hex("0300c8000a")) : record_of(pdu.left(4));
    return decode_reply(rx, int(frame.size()), table, asked);
}

QList<double> values_of(const Measurement &m)
{
    QList<double> out;
    for (const MeasuredField &f : measured_fields)
        out.append(field_value(m, f));
    return out;
}

QList<QByteArray> queued(const RequestRing &ring)
{
    QList<QByteArray> out;
    for (int s = ring.req_read_idx; s != ring.req_write_idx; s = (s + 1) % ring_slots)
        out.append(pdu_at(ring, s));
    return out;
}

// A listener other than the window: it keeps whatever the master reports,
// and the order of the reports within a tick.
struct Rig {
    FakeSerialPort port;
    Master master{port};
    QList<Exchange> exchanges;
    QList<Measurement> measurements;
    QList<ParConfirmation> params;
    QStringList order;
    Rig()
    {
        port.make_free({1});
        port.open();
        master.set_address(1);
        master.par_table_init();
        QObject::connect(&master, &Master::exchanged, [this](const Exchange &e) {
            exchanges.append(e);
            order.append(QStringLiteral("exchange"));
        });
        QObject::connect(&master, &Master::replied, [this](const Reply &reply) {
            if (reply.measurement)
                measurements.append(*reply.measurement);
            params += reply.parameters;
            order.append(QStringLiteral("reply"));
        });
    }
    const ParTable &table() const { return master.table(); }
    const RequestRing &ring() const { return master.ring(); }
    // One tick that finds frame waiting, as the exchange cycle does.
    void receive(const QByteArray &frame)
    {
        port.incoming = frame;
        master.exchange_step();
    }
    // Sends the head request, then answers it with frame.
    void answer(const QByteArray &frame)
    {
        master.exchange_step();
        receive(frame);
    }
    // What the operator asked for, without the default poll a tick may have queued.
    QList<QByteArray> asked()
    {
        QList<QByteArray> q = queued(ring());
        q.removeIf([](const QByteArray &pdu) { return pdu.startsWith(char(3)); });
        return q;
    }
    ParTexts texts(std::initializer_list<const char *> list) const
    {
        ParTexts t;
        size_t i = 0;
        for (const char *text : list)
            t[i++] = QString::fromUtf8(text);
        return t;
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
        r.master.par_readall(request_for(Purpose::read));
        const auto q = r.asked();
        QCOMPARE(q.size(), 3);
        COMPARE_HEX(q[0], hex("64010105"));
        COMPARE_HEX(q[1], hex("64010608"));
        COMPARE_HEX(q[2], hex("64010e01"));
    }

    void write_all_queues_three_requests()
    {
        Rig r;
        const ParTexts texts =
            r.texts({"100", "256", "-5", "1,5", "12,5", "70", "7000", "0.0015", "1"});
        QVERIFY(r.master.par_writeall(texts, {}, request_for(Purpose::write)).no_number.isEmpty());
        const auto q = r.asked();
        QCOMPARE(q.size(), 3);
        COMPARE_HEX(q[0], hex("6501010564ff0005dc"));
        COMPARE_HEX(q[1], hex("65010608007dffffffff0002"));
        COMPARE_HEX(q[2], hex("65010e0101"));
    }

    // Text with no number is never written as 0. In its place goes what the
    // controller last confirmed for it, so the rest of its group is still
    // written; with nothing confirmed the whole group stays out.
    // clang-format off
    void write_all_with_boxes_without_a_number_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<int>>("confirmed"); // index, raw, index, raw, ...
        QTest::addColumn<QList<int>>("refused");
        QTest::addColumn<QList<int>>("left_out");
        QTest::addColumn<QList<QByteArray>>("sent");
        const QStringList good = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
        QTest::newRow("before any reply") << QStringList(9, QStringLiteral("-")) << QList<int>{}
                                          << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}
                                          << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}
                                          << QList<QByteArray>{};
        QStringList t = good;
        t[5] = QStringLiteral("x20");
        QTest::newRow("x20, nothing confirmed")
            << t << QList<int>{} << QList<int>{5} << QList<int>{4, 5, 6, 7}
            << QList<QByteArray>{hex("650101050102030fa0"), hex("65010e0109")};
        QTest::newRow("x20, its value confirmed")
            << t << QList<int>{5, 0x1234} << QList<int>{5} << QList<int>{}
            << QList<QByteArray>{hex("650101050102030fa0"), hex("65010608" "0032" "1234" "0046" "1f40"),
                                 hex("65010e0109")};
        t = good;
        t[0] = QString();
        t[8] = QStringLiteral(".");
        QTest::newRow("empty and a lone point")
            << t << QList<int>{8, 0} << QList<int>{0, 8} << QList<int>{0, 1, 2, 3}
            << QList<QByteArray>{hex("65010608" "0032" "1770" "0046" "1f40"), hex("65010e0100")};
    }
    // clang-format on
    void write_all_with_boxes_without_a_number()
    {
        QFETCH(QStringList, texts);
        QFETCH(QList<int>, confirmed);
        QFETCH(QList<int>, refused);
        QFETCH(QList<int>, left_out);
        QFETCH(QList<QByteArray>, sent);
        Rig r;
        ParTexts t;
        for (int i = 0; i < par_count; ++i)
            t[size_t(i)] = texts[i];
        ParKnown known;
        for (int k = 0; k + 1 < confirmed.size(); k += 2)
            known[size_t(confirmed[k])] = confirmed[k + 1];
        const WriteAllResult result = r.master.par_writeall(t, known, request_for(Purpose::write));
        QCOMPARE(result.no_number, refused);
        QCOMPARE(result.left_out, left_out);
        QCOMPARE(r.asked(), sent);
    }

    // clang-format off
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
        QTest::newRow("shown value") << 7 << "0.123 " << hex("65010c02007b");
        QTest::newRow("unit and percent") << 4 << "12,5 с" << hex("65010602007d");
        QTest::newRow("blanks inside") << 4 << " 1 2,5" << hex("65010602007d");
        QTest::newRow("percent") << 0 << "50 %" << hex("6501010132");
        // Nothing at all is queued for these.
        QTest::newRow("relay text") << 8 << "on" << QByteArray();
        QTest::newRow("x20") << 5 << "x20" << QByteArray();
        QTest::newRow("sign alone") << 5 << "+" << QByteArray();
        QTest::newRow("initial dash") << 5 << "-" << QByteArray();
    }
    // clang-format on
    void single_write()
    {
        QFETCH(int, index);
        QFETCH(QString, text);
        QFETCH(QByteArray, pdu);
        Rig r;
        QCOMPARE(r.master.par_write(index, text, request_for(Purpose::write)) == Queued::yes,
                 !pdu.isEmpty());
        COMPARE_HEX(r.asked().value(0), pdu);
        QCOMPARE(r.asked().size(), pdu.isEmpty() ? 0 : 1);
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

    // clang-format off
    void measurement_block_data()
    {
        QTest::addColumn<QByteArray>("data"); // registers 200..209
        QTest::addColumn<int>("carried");
        QTest::addColumn<QList<double>>("values"); // ia, ib, ic, f, ain1, ain2
        QTest::addColumn<QString>("versions");
        QTest::newRow("zeros") << QByteArray(20, 0) << 10 << QList<double>{0, 0, 0, 0, 0, 0}
                               << "0.00 0.00";
        QTest::newRow("typical")
            << hex("0000" "0205" "020c" "0000" "04b0" "ffff" "0001" "1388" "0007" "00ff") << 10
            << QList<double>{1.2, 65.535, 0.001, 50, 7, 255} << "2.05 2.12";
        QTest::newRow("minor 9 and 150")
            << hex("0000" "0109" "0296" "0000" "0000" "0000" "0000" "1389" "0000" "0000") << 10
            << QList<double>{0, 0, 0, 50.01, 0, 0} << "1.09 2.150";
    }
    // clang-format on
    void measurement_block()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, carried);
        QFETCH(QList<double>, values);
        QFETCH(QString, versions);
        const Reply d = decoded(with_crc(hex("010314") + data));
        QVERIFY(d.measurement);
        const Measurement &m = *d.measurement;
        QCOMPARE(m.carried, carried);
        QCOMPARE(m.complete(), carried == 10);
        QCOMPARE(values_of(m), values);
        QCOMPARE(version_text(m.protocol) + ' ' + version_text(m.software), versions);
        QVERIFY(d.parameters.isEmpty());
    }

    void grouped_reply_confirms_four_parameters()
    {
        const QList<ParConfirmation> p = decoded(with_crc(hex("016401010564656605dc"))).parameters;
        QCOMPARE(p.size(), 4);
        const int want[] = {100, 101, 102, 1500};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(p[i].index, i);
            QCOMPARE(p[i].raw, want[i]);
            QVERIFY(p[i].read);
        }
        // A write answer carries the written data: what the controller took,
        // not yet what its memory holds.
        const QList<ParConfirmation> echo = decoded(with_crc(hex("0165010602007d"))).parameters;
        QCOMPARE(echo.size(), 1);
        QCOMPARE(echo[0].index, 4);
        QCOMPARE(echo[0].raw, 125);
        QVERIFY(!echo[0].read);
    }

    // An echoed write is read back from the controller's memory, once, for
    // the same group; an exception or an unanswered write is not.
    void an_echoed_write_is_read_back()
    {
        Rig r;
        QCOMPARE(r.master.par_write(4, QStringLiteral("12,5"), request_for(Purpose::write)),
                 Queued::yes);
        r.master.exchange_step(); // the write goes out
        r.receive(with_crc(hex("0165010602007d")));
        QCOMPARE(r.asked(), QList<QByteArray>{hex("64010602")});

        QCOMPARE(r.master.par_write(4, QStringLiteral("13"), request_for(Purpose::write)),
                 Queued::yes);
        r.receive(with_crc(hex("010314") + QByteArray(20, 0))); // the poll's answer
        r.receive(with_crc(hex("0164010602007d")));             // the read-back's
        r.receive(with_crc(hex("01e503")));                     // the next write refused
        QCOMPARE(r.asked(), QList<QByteArray>{});
        COMPARE_HEX(r.port.written[2], with_crc(hex("0164010602")));
    }

    // Writes typed for one controller are taken out when the line points
    // elsewhere, as they were; the reads and polls around them keep their order.
    void writes_taken_out_leave_the_rest_in_order()
    {
        Rig r;
        r.master.par_readall(request_for(Purpose::read));
        QCOMPARE(r.master.par_write(4, QStringLiteral("1"), request_for(Purpose::write)),
                 Queued::yes);
        QCOMPARE(r.master.par_write(8, QStringLiteral("1"), request_for(Purpose::write)),
                 Queued::yes);
        r.master.ask_measurement(request_for(Purpose::poll));
        QCOMPARE(r.master.pending_writes(), 2);
        const QList<TakenRequest> taken = r.master.take_requests(
            [](const RequestRecord &w) { return purpose_of(w) == Purpose::write; });
        QCOMPARE(taken.size(), 2);
        COMPARE_HEX(QByteArray(reinterpret_cast<const char *>(taken[1].pdu.data()),
                               qsizetype(taken[1].pdu.size())),
                    hex("65010e0101"));
        QCOMPARE(r.master.pending_writes(), 0);
        QCOMPARE(queued(r.ring()), (QList<QByteArray>{hex("64010105"), hex("64010608"),
                                                      hex("64010e01"), hex("0300c8000a")}));
    }

    // clang-format off
    void replies_that_say_nothing_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("unknown address") << with_crc(hex("0164010d0105"));
        QTest::newRow("no data") << with_crc(hex("0164010100"));
        QTest::newRow("function 4") << with_crc(hex("010414") + QByteArray(20, 1));
        QTest::newRow("exception") << with_crc(hex("01e402"));
    }
    // clang-format on
    void replies_that_say_nothing()
    {
        QFETCH(QByteArray, frame);
        const Reply d = decoded(frame);
        QVERIFY(d.parameters.isEmpty());
        QVERIFY(!d.measurement);
    }

    void reply_never_runs_past_the_last_parameter()
    {
        const QList<ParConfirmation> p = decoded(with_crc(hex("0164010e050102030405"))).parameters;
        QCOMPARE(p.size(), 1);
        QCOMPARE(p[0].index, 8);
        QCOMPARE(p[0].raw, 1);
    }

    // What a listener other than the window sees of each kind of tick.
    void the_stream_reports_every_outcome()
    {
        Rig r;
        r.master.exchange_step(); // the poll goes out
        r.port.last_byte = QDateTime::currentMSecsSinceEpoch();
        r.receive(with_crc(hex("010314") + QByteArray(20, 0)));
        r.receive(hex("010314") + QByteArray(22, 0)); // bad CRC
        r.receive(QByteArray());
        r.receive(with_crc(hex("018302")));
        r.receive(with_crc(hex("020314") + QByteArray(20, 0))); // another controller's
        QCOMPARE(r.exchanges.size(), 6);
        QCOMPARE(r.exchanges[1].verdict, Verdict::good);
        QCOMPARE(r.exchanges[1].request, with_crc(hex("010300c8000a")));
        QVERIFY(r.exchanges[1].response_ms() >= 0);
        QCOMPARE(r.exchanges[2].verdict, Verdict::crc_mismatch);
        QCOMPARE(r.exchanges[3].verdict, Verdict::no_answer);
        QCOMPARE(r.exchanges[4].verdict, Verdict::good);
        QCOMPARE(r.exchanges[4].exception_code, 2);
        QCOMPARE(r.exchanges[5].verdict, Verdict::unmatched);
        QCOMPARE(r.measurements.size(), 1);
        // The verdict comes first, then what the reply said.
        QCOMPARE(r.order.mid(0, 3), (QStringList{"exchange", "exchange", "reply"}));
    }

    // clang-format off
    void write_all_without_edits_writes_back_what_was_read_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("point") << QLocale::c();
        QTest::newRow("comma") << QLocale(QLocale::Russian, QLocale::Russia);
        // Its own separator is one the number reader does not know.
        QTest::newRow("arabic") << QLocale(QLocale::Arabic, QLocale::Egypt);
        QTest::newRow("persian") << QLocale(QLocale::Persian, QLocale::Iran);
    }
    // clang-format on
    void write_all_without_edits_writes_back_what_was_read()
    {
        QFETCH(QLocale, locale);
        QLocale::setDefault(locale);
        Rig r;
        const QByteArray first = hex("ff007fffff");
        const QByteArray second = hex("00013039ffff0333");
        // The values as a box shows them, read back by write-all.
        ParTexts shown;
        for (const QByteArray &reply :
             {hex("0164010105") + first, hex("0164010608") + second, hex("0164010e0101")}) {
            for (const ParConfirmation &c : decoded(with_crc(reply)).parameters)
                shown[size_t(c.index)] = par_value_text(c.index, c.raw);
        }
        QVERIFY(r.master.par_writeall(shown, {}, request_for(Purpose::write)).no_number.isEmpty());
        QLocale::setDefault(QLocale::c());
        const auto q = r.asked();
        COMPARE_HEX(q[0], hex("65010105") + first);
        COMPARE_HEX(q[1], hex("65010608") + second);
        COMPARE_HEX(q[2], hex("65010e0101"));
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
