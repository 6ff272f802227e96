// The line and the controllers' models behind it, over a fake port: what a
// model holds comes only from replies bound to their own requests, for the
// controller the line talks to now.
#include "frames.h"
#include "line_rig.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Rig : LineRig {
    QList<OperationEnd> ended;

    Rig()
    {
        QObject::connect(&model(), &ControllerModel::operation_ended,
                         [this](const OperationEnd &e) { ended << e; });
    }
    QList<QByteArray> writes() const
    {
        QList<QByteArray> out;
        for (const QByteArray &f : std::as_const(port->written)) {
            if (f[1] == char(0x65))
                out << f;
        }
        return out;
    }
};

} // namespace

class TestLine : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    // The reply to a read of address 1 lands after the window chose address
    // 2, which is silent: nothing of it is address 2's, and a write-all to
    // 2 with an emptied box does not fill it with address 1's value.
    void a_late_reply_is_not_the_next_controllers()
    {
        Rig r;
        r.line->read_all();
        r.ticks(1); // the first read is out
        r.line->set_address(2);
        r.ticks(4); // its reply lands; address 2 answers nothing
        QVERIFY(!r.model(2).held(0));
        QVERIFY(!r.model(2).held(4));
        ParTexts texts;
        texts.fill(QStringLiteral("1"));
        texts[5] = QString();
        const WriteAllResult result = r.line->write_all(texts);
        QCOMPARE(result.left_out, (QList<int>{4, 5, 6, 7}));
    }

    // An exception to a write's read-back ends it as refused, with its code,
    // and "Записать всё" ends saying so.
    void an_exception_to_a_read_back_is_a_refusal()
    {
        Rig r;
        r.port->responder = [&](const QByteArray &frame) {
            return frame[1] == char(0x64) ? with_crc(hex("01e404")) : r.controller(frame);
        };
        QCOMPARE(r.line->write_all(ParRaws{1, 2, 3, 4, 5, 6, 7, 8, 9}), QString());
        r.ticks(8);
        QCOMPARE(r.ended.size(), 1);
        QCOMPARE(r.ended[0].kind, OperationKind::write_all);
        QCOMPARE(r.ended[0].refused.size(), par_count);
        QCOMPARE(r.ended[0].exception_code, 4);
        QCOMPARE(r.model().par(4).outcome, WriteOutcome::refused);
        QCOMPARE(r.model().par(4).exception_code, 4);
        QCOMPARE(r.line->pending_writes(), 0);
    }

    // A read-back that never comes ends after its time, as not answered;
    // the operation ends too, and nothing waits for ever.
    void a_silent_read_back_ends_in_time()
    {
        Rig r;
        r.port->responder = [&](const QByteArray &frame) {
            return frame[1] == char(0x64) ? QByteArray() : r.controller(frame);
        };
        QCOMPARE(r.line->write_one(4, QStringLiteral("30")), Queued::yes);
        r.ticks(4);
        QCOMPARE(r.model().par(4).outcome, WriteOutcome::awaiting);
        QVERIFY(r.model().par(4).echoed);
        r.model().check_time(QDateTime::currentMSecsSinceEpoch() + ControllerModel::answer_ms);
        QCOMPARE(r.model().par(4).outcome, WriteOutcome::no_answer);
    }

    // Values a comparison has read are what the controller holds: a file
    // saved after it takes them.
    void a_comparison_confirms_what_it_read()
    {
        Rig r;
        ParRaws file{100, 101, 102, 1500, 300, 20000, 1000, 0, 1};
        QVERIFY(r.line->compare(file));
        r.ticks(5);
        QCOMPARE(r.ended.size(), 1);
        QCOMPARE(r.ended[0].differ, QList<int>{4});
        QVERIFY(r.model().all_held());
        QCOMPARE(*r.model().held(4), 125);
        QCOMPARE(*r.model().par(4).file_value, 300);
    }

    // Writes kept across a loss of the port go out only once the
    // controller on it is recognised by its versions and the parameters not
    // being written; to another controller they never go.
    void writes_across_a_loss_wait_for_the_controller_data()
    {
        QTest::addColumn<bool>("same");
        QTest::newRow("the same controller") << true;
        QTest::newRow("another controller") << false;
    }
    void writes_across_a_loss_wait_for_the_controller()
    {
        QFETCH(bool, same);
        Rig r;
        r.line->ask_measurement();
        r.line->read_all();
        r.ticks(6);
        QVERIFY(r.model().all_held());
        r.port->lose();
        QCOMPARE(r.line->write_one(4, QStringLiteral("30")), Queued::yes);
        r.ticks(2);
        if (!same)
            r.controller.memory[0] = char(90);
        r.port->open_result[1] = PortError::None;
        LineDriver::session(*r.line).retry_lost_port();
        QVERIFY(r.port->is_open());
        const qsizetype before = r.port->written.size();
        r.ticks(2);
        // What goes out first is reading, never the write.
        QVERIFY(r.writes().isEmpty() || r.port->written.indexOf(r.writes().first()) < before);
        r.ticks(8);
        if (same) {
            QCOMPARE(r.writes().size(), 1);
            COMPARE_HEX(r.writes().first(), with_crc(hex("0165010602012c")));
            QCOMPARE(r.model().par(4).outcome, WriteOutcome::taken);
        } else {
            QVERIFY(r.writes().isEmpty());
            QCOMPARE(r.model().par(4).outcome, WriteOutcome::cancelled);
            QVERIFY2(r.model().par(4).why.contains(QStringLiteral("не опознан")),
                     qPrintable(r.model().par(4).why));
            QCOMPARE(r.line->pending_writes(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestLine)
#include "tst_line.moc"
