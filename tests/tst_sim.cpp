#include "event_wait.h"
#include "rtu_slave.h"
#include "sim_controller.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

using namespace sim;

Q_DECLARE_METATYPE(sim::Faults)

namespace {

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

QByteArray request(int address, const QByteArray &pdu)
{
    return with_crc(QByteArray(1, char(address)) + pdu);
}

QByteArray read_params(int start, int n)
{
    return request(1, bytes({100, start >> 8, start & 0xFF, n}));
}

QByteArray write_params(int start, const QByteArray &data)
{
    return request(1, bytes({101, start >> 8, start & 0xFF, int(data.size())}) + data);
}

quint16 word(const QByteArray &b, int at)
{
    return quint16(quint8(b[at]) << 8 | quint8(b[at + 1]));
}

bool crc_good(const QByteArray &f)
{
    return f.size() >= 4 && with_crc(f.left(f.size() - 2)) == f;
}

// One request into a fresh feed, the reply frame (empty when none) out.
QByteArray exchange(RtuSlave &slave, const QByteArray &req, qint64 &now)
{
    now += 150;
    QList<Reply> replies = slave.feed(req, now);
    replies += slave.poll(now + RtuSlave::silence_ms);
    return replies.isEmpty() ? QByteArray() : replies.first().bytes();
}

const QByteArray default_poll = bytes({0x01, 0x03, 0x00, 0xC8, 0x00, 0x0A, 0x44, 0x33});

} // namespace

class TstSim : public QObject {
    Q_OBJECT

    Controller ctl{7};
    std::optional<RtuSlave> slave;
    qint64 now = 0;

    QByteArray ask(const QByteArray &req) { return exchange(*slave, req, now); }

private slots:
    void init()
    {
        ctl = Controller(7);
        slave.emplace(ctl, 1);
    }

    void default_poll_answers_all_ten_registers()
    {
        QSet<quint16> phase_a;
        for (int round = 0; round < 200; ++round) {
            const QByteArray r = ask(default_poll);
            QCOMPARE(r.size(), 25);
            QCOMPARE(r.left(3), bytes({1, 3, 20}));
            QVERIFY(crc_good(r));
            QCOMPARE(word(r, 3 + 2), quint16(0x0205));
            QCOMPARE(word(r, 3 + 4), quint16(0x010C));
            for (int phase = 0; phase < 3; ++phase) {
                const int milliamps = word(r, 3 + 8 + 2 * phase);
                QVERIFY2(milliamps > 1100 && milliamps < 1300,
                         qPrintable(QString::number(milliamps)));
            }
            const int freq = word(r, 3 + 14);
            QVERIFY2(freq > 4950 && freq < 5050, qPrintable(QString::number(freq)));
            phase_a.insert(word(r, 3 + 8));
        }
        QVERIFY(phase_a.size() > 1); // the values do move
    }

    void partial_register_read()
    {
        QCOMPARE(ask(request(1, bytes({3, 0, 201, 0, 2}))),
                 with_crc(bytes({1, 3, 4, 2, 5, 1, 12})));
        QCOMPARE(ask(request(1, bytes({3, 0, 209, 0, 1}))).mid(3, 2), bytes({0, 3}));
    }

    void read_parameter_memory_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("trims and imax_timed") << 257 << bytes({100, 100, 100, 0x13, 0x88});
        QTest::newRow("timer 12.5 s") << 262 << bytes({0x00, 0x7D});
        QTest::newRow("imax_instant, ct_amps") << 264 << bytes({0x4E, 0x20, 0x03, 0xE8});
        QTest::newRow("relay_mode, last byte") << 270 << bytes({0});
        QTest::newRow("whole memory") << 257 << Controller::default_memory();
    }

    void read_parameter_memory()
    {
        QFETCH(int, start);
        QFETCH(QByteArray, expected);
        const QByteArray r = ask(read_params(start, int(expected.size())));
        QCOMPARE(r, with_crc(bytes({1, 100, start >> 8, start & 0xFF, int(expected.size())}) +
                             expected));
    }

    void write_parameter_memory_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("timer 12.5 s") << 262 << bytes({0x00, 0x7D});
        QTest::newRow("first byte") << 257 << bytes({0x55});
        QTest::newRow("last byte") << 270 << bytes({0x01});
        QTest::newRow("all 14") << 257 << bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
    }

    // Starts from zeroed memory so that neither a stale default nor a write
    // spilling into a neighbour can pass for the expected contents.
    void write_parameter_memory()
    {
        QFETCH(int, start);
        QFETCH(QByteArray, data);
        ctl.set_memory(QByteArray(Controller::mem_size, 0));
        const QByteArray req = write_params(start, data);
        QCOMPARE(ask(req), req); // the answer carries the written data
        QByteArray expected(Controller::mem_size, 0);
        expected.replace(start - Controller::mem_first, data.size(), data);
        QCOMPARE(ctl.memory(), expected);
        QCOMPARE(ask(read_params(start, int(data.size()))).mid(5, data.size()), data);
    }

    void exception_replies_data()
    {
        QTest::addColumn<QByteArray>("pdu");
        QTest::addColumn<int>("code");
        QTest::newRow("function 5") << bytes({5, 0, 1, 0xFF, 0}) << 1;
        QTest::newRow("function 16") << bytes({16, 0, 200, 0, 1, 2, 0, 0}) << 1;
        QTest::newRow("read below memory") << bytes({100, 0, 250, 1}) << 2;
        QTest::newRow("read past 270") << bytes({100, 1, 14, 2}) << 2;
        QTest::newRow("read zero bytes") << bytes({100, 1, 1, 0}) << 2;
        QTest::newRow("write at 256") << bytes({101, 1, 0, 1, 9}) << 2;
        QTest::newRow("write past 270") << bytes({101, 1, 13, 3, 1, 2, 3}) << 2;
        QTest::newRow("registers below 200") << bytes({3, 0, 199, 0, 2}) << 2;
        QTest::newRow("registers past 209") << bytes({3, 0, 209, 0, 2}) << 2;
        QTest::newRow("zero registers") << bytes({3, 0, 200, 0, 0}) << 3;
        QTest::newRow("126 registers") << bytes({3, 0, 200, 0, 126}) << 3;
    }

    void exception_replies()
    {
        QFETCH(QByteArray, pdu);
        QFETCH(int, code);
        const QByteArray mem_before = ctl.memory();
        const QByteArray r = ask(request(1, pdu));
        QCOMPARE(r, with_crc(bytes({1, quint8(pdu[0]) | 0x80, code})));
        QCOMPARE(ctl.memory(), mem_before);
    }

    void no_reply_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("other slave") << request(2, default_poll.mid(1, 5));
        QTest::newRow("broadcast") << request(0, default_poll.mid(1, 5));
        QTest::newRow("bad crc poll") << bytes({0x01, 0x03, 0x00, 0xC8, 0x00, 0x0A, 0x44, 0x34});
        QByteArray bad_write = write_params(262, bytes({0, 1}));
        bad_write[bad_write.size() - 2] = char(bad_write[bad_write.size() - 2] ^ 1);
        QTest::newRow("bad crc write") << bad_write;
        QTest::newRow("unknown function, bad crc") << bytes({1, 5, 0, 1, 0xFF, 0, 0, 0});
    }

    void no_reply()
    {
        QFETCH(QByteArray, frame);
        const QByteArray mem_before = ctl.memory();
        QCOMPARE(ask(frame), QByteArray());
        QCOMPARE(ctl.memory(), mem_before);
        QVERIFY(!slave->pending());
        QCOMPARE(ask(default_poll).size(), 25); // and the next request is served
    }

    void broadcast_write_is_stored_silently()
    {
        QCOMPARE(ask(request(0, bytes({101, 1, 14, 1, 1}))), QByteArray());
        QCOMPARE(int(ctl.memory().back()), 1);
    }

    void request_in_pieces_is_assembled_data()
    {
        QTest::addColumn<QByteArray>("req");
        QTest::addColumn<int>("cut");
        QTest::newRow("poll after address") << default_poll << 1;
        QTest::newRow("poll before crc") << default_poll << 6;
        QTest::newRow("poll before last") << default_poll << 7;
        QTest::newRow("write before count") << write_params(257, bytes({1, 2, 3})) << 4;
        QTest::newRow("write inside data") << write_params(257, bytes({1, 2, 3})) << 6;
        QTest::newRow("unknown function") << request(1, bytes({5, 0, 1, 0xFF, 0})) << 3;
    }

    void request_in_pieces_is_assembled()
    {
        QFETCH(QByteArray, req);
        QFETCH(int, cut);
        QVERIFY(slave->feed(req.left(cut), 1000).isEmpty());
        QList<Reply> out = slave->feed(req.mid(cut), 1000 + RtuSlave::silence_ms - 1);
        out += slave->poll(1000 + 2 * RtuSlave::silence_ms);
        QCOMPARE(out.size(), 1);
        QVERIFY(crc_good(out.first().bytes()));
        QCOMPARE(quint8(out.first().bytes()[1]) & 0x7F, quint8(req[1]));
    }

    void noise_is_skipped_data()
    {
        QTest::addColumn<QByteArray>("noise");
        QTest::addColumn<int>("gap_ms");
        const int later = RtuSlave::silence_ms + 1;
        QTest::newRow("partial poll, then silence") << default_poll.left(5) << later;
        QTest::newRow("partial write, then silence") << bytes({1, 101, 1, 1, 200, 7}) << later;
        QTest::newRow("unknown function, then silence") << bytes({1, 7, 7}) << later;
        QTest::newRow("one byte, no gap") << bytes({0xFF}) << 0;
        QTest::newRow("looks like a read, no gap") << bytes({1, 100, 1}) << 0;
        QTest::newRow("huge write count, no gap") << bytes({1, 101, 1, 1, 250}) << 0;
    }

    void noise_is_skipped()
    {
        QFETCH(QByteArray, noise);
        QFETCH(int, gap_ms);
        QList<Reply> out = slave->feed(noise, 5000);
        out += slave->feed(default_poll, 5000 + gap_ms);
        out += slave->poll(5000 + gap_ms + RtuSlave::silence_ms);
        QCOMPARE(out.size(), 1);
        QCOMPARE(out.first().bytes().size(), 25);
        QVERIFY(!slave->pending());
    }

    void faults_data()
    {
        QTest::addColumn<Faults>("f");
        QTest::addColumn<int>("replies");
        QTest::addColumn<bool>("crc_ok");
        QTest::newRow("corrupt") << Faults{0, 1} << 1 << false;
        QTest::newRow("drop") << Faults{1} << 0 << true;
        QTest::newRow("split, delayed") << Faults{0, 0, 1, 200, 40} << 1 << true;
    }

    void faults()
    {
        QFETCH(Faults, f);
        QFETCH(int, replies);
        QFETCH(bool, crc_ok);
        RtuSlave faulty(ctl, 1, f, 3);
        const QList<Reply> out = faulty.feed(default_poll, 0);
        QCOMPARE(out.size(), replies);
        for (const Reply &r : out) {
            QCOMPARE(r.bytes().size(), 25);
            QCOMPARE(crc_good(r.bytes()), crc_ok);
            QCOMPARE(r.delay_ms, f.delay_ms);
            QCOMPARE(!r.first.isEmpty() && !r.second.isEmpty(), f.split > 0);
            if (f.split > 0)
                QCOMPARE(r.pause_ms, f.split_pause_ms);
        }
    }

    void forced_exception()
    {
        Faults f;
        f.exception_code = 6;
        RtuSlave busy(ctl, 1, f);
        QCOMPARE(exchange(busy, default_poll, now), bytes({1, 0x83, 6, 0xC1, 0x32}));
        QCOMPARE(exchange(busy, write_params(257, bytes({9})), now), with_crc(bytes({1, 0xE5, 6})));
        QCOMPARE(int(ctl.memory()[0]), 100);
    }

    // One line, three controllers: each polled address answers from its own
    // controller, any other address gets nothing, a write changes only the
    // memory it was sent to and a broadcast reaches them all.
    void line_of_three_controllers()
    {
        Controller c1(7, 1), c2(7, 2), c5(7, 5);
        RtuSlave line(c1, 1);
        line.serve(2, c2);
        line.serve(5, c5);
        const QByteArray poll = default_poll.mid(1, 5);
        for (int a : {5, 1, 2}) {
            const QByteArray r = exchange(line, request(a, poll), now);
            QCOMPARE(r.left(3), bytes({a, 3, 20}));
            QVERIFY(crc_good(r));
            const int target = 1200 + 100 * (a - 1);
            for (int phase = 0; phase < 3; ++phase) {
                const int milliamps = word(r, 3 + 8 + 2 * phase);
                QVERIFY2(qAbs(milliamps - target) < 50,
                         qPrintable(QStringLiteral("%1 mA at %2").arg(milliamps).arg(a)));
            }
        }
        for (int a : {3, 4, 6, 247})
            QCOMPARE(exchange(line, request(a, poll), now), QByteArray());

        QVERIFY(c1.memory() != c2.memory());
        const QByteArray before1 = c1.memory(), before5 = c5.memory();
        const QByteArray write = request(2, bytes({101, 1, 6, 2, 0x01, 0xF4}));
        QCOMPARE(exchange(line, write, now), write);
        QCOMPARE(c2.memory().mid(262 - Controller::mem_first, 2), bytes({0x01, 0xF4}));
        QCOMPARE(c1.memory(), before1);
        QCOMPARE(c5.memory(), before5);

        QCOMPARE(exchange(line, request(0, bytes({101, 1, 14, 1, 1})), now), QByteArray());
        for (const Controller *c : {&c1, &c2, &c5})
            QCOMPARE(int(c->memory().back()), 1);
    }

    void address_lists_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("addresses"); // empty: refused
        QTest::newRow("one") << "5" << QList<int>{5};
        QTest::newRow("list") << "1,2,5" << QList<int>{1, 2, 5};
        QTest::newRow("range") << "1-4" << QList<int>{1, 2, 3, 4};
        QTest::newRow("mixed, unordered, overlapping") << " 7, 3-5 ,4" << QList<int>{3, 4, 5, 7};
        QTest::newRow("highest") << "247" << QList<int>{247};
        QTest::newRow("empty") << "" << QList<int>{};
        QTest::newRow("empty item") << "1,,2" << QList<int>{};
        QTest::newRow("zero") << "0-3" << QList<int>{};
        QTest::newRow("above 247") << "240-248" << QList<int>{};
        QTest::newRow("open range") << "3-" << QList<int>{};
        QTest::newRow("reversed range") << "5-3" << QList<int>{};
        QTest::newRow("two dashes") << "1-2-3" << QList<int>{};
        QTest::newRow("not a number") << "1,b" << QList<int>{};
    }

    void address_lists()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, addresses);
        QString error;
        QCOMPARE(parse_address_list(text, &error), addresses);
        QCOMPARE(error.isEmpty(), !addresses.isEmpty());
    }

    void memory_file_persists()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("mem.bin"));
        QString error;
        QVERIFY(ctl.attach_file(path, &error)); // absent: defaults, nothing written yet
        ask(write_params(262, bytes({0x01, 0xF4})));
        QVERIFY(ctl.last_save_error().isEmpty());

        Controller reborn(1);
        QVERIFY(reborn.attach_file(path, &error));
        QByteArray expected = Controller::default_memory();
        expected[5] = 0x01;
        expected[6] = char(0xF4);
        QCOMPARE(reborn.memory(), expected);
    }

    void baud_and_turnaround_hold_the_reply();
};

// rzt604-sim itself on its pseudo-terminal: at 9600 baud the 25 bytes of a
// register reply take 26 ms on the line, after 30 ms of turnaround. Either
// one left out brings the whole reply in well under 50 ms.
void TstSim::baud_and_turnaround_hold_the_reply()
{
#ifndef Q_OS_UNIX
    QSKIP("needs POSIX pseudo-terminals");
#else
    QProcess sim;
    sim.start(QStringLiteral(SIM_PATH), {"--baud", "9600", "--turnaround", "30"});
    QVERIFY(sim.waitForStarted(event_wait_ms));
    QVERIFY(sim.waitForReadyRead(event_wait_ms));
    const QByteArray path = sim.readLine().trimmed();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY);
    QVERIFY2(fd >= 0, path.constData());
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::write(fd, default_poll.constData(), size_t(default_poll.size())),
             ssize_t(default_poll.size()));
    QByteArray reply;
    while (reply.size() < 25 && !clock.hasExpired(event_wait_ms)) {
        pollfd p{fd, POLLIN, 0};
        char buf[64];
        if (::poll(&p, 1, 100) > 0)
            reply.append(buf, qMax<ssize_t>(0, ::read(fd, buf, sizeof buf)));
    }
    const qint64 took = clock.elapsed();
    ::close(fd);
    sim.terminate();
    sim.waitForFinished(event_wait_ms);
    QCOMPARE(reply.size(), 25);
    QVERIFY2(took >= 50, qPrintable(QString::number(took)));
#endif
}

QTEST_GUILESS_MAIN(TstSim)
#include "tst_sim.moc"
