// The main window with a fake port: editing the parameter boxes, how replies
// are shown, the EEPROM buttons and the "Параметры" menu.
#include "app_rig.h"
#include "frames.h"
#include "line_driver.h"
#include "par_box.h"
#include "param_file.h"
#include "window_probe.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>

class TestAppEditing : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    void editing_and_enter()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.start_answered());
        const RequestRing &ring = LineDriver::ring(r.w->line());
        const int before = ring.pending();
        QLineEdit *box = r.box(4);
        QCOMPARE(box->text(), QStringLiteral("12.5 "));
        QCOMPARE(box_colour(r.w.get(), 4), colour_green);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("30,5"));
        QCOMPARE(box->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(ring.pending(), before); // typing queues nothing
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(ring.pending(), before + 1);
        QCOMPARE(pdu_at(ring, ring.slot(before)), QByteArray::fromHex("650106020131"));
        QCOMPARE(box->text(), QStringLiteral("30,5")); // left as typed

        // The echo alone proves nothing: the box turns green with what the
        // read-back after it finds in the controller's memory.
        r.ticks(2);
        QCOMPARE(box_colour(r.w.get(), 4), colour_white);
        r.ticks(2);
        QCOMPARE(box->text(), QStringLiteral("30.5 "));
        QCOMPARE(box_colour(r.w.get(), 4), colour_green);
        QVERIFY(r.controller.memory.mid(5, 2) == hex("0131"));
    }

    // A reply never changes what the operator is typing: the read-back of
    // one write lands while the next value is typed over it, and Enter
    // writes exactly what was typed; Esc shows the controller's value again.
    void a_reply_never_changes_what_is_being_typed()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.start_answered());
        QLineEdit *box = r.box(4);
        QApplication::setActiveWindow(r.w.get());
        box->setFocus();
        enter(box, QStringLiteral("25"));
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("3"));
        r.ticks(4); // the echo of 25 s and its read-back
        QCOMPARE(r.controller.memory.mid(5, 2), hex("00fa"));
        QCOMPARE(box->text(), QStringLiteral("3"));
        QCOMPARE(box_colour(r.w.get(), 4), colour_white);
        QCOMPARE(box->toolTip(), QStringLiteral("Контроллер хранит 25 (Esc — показать)"));
        QTest::keyClicks(box, QStringLiteral("0"));
        QTest::keyClick(box, Qt::Key_Return);
        r.ticks(4);
        QByteArray last_write;
        for (const QByteArray &frame : std::as_const(r.port->written)) {
            if (frame[1] == char(0x65))
                last_write = frame;
        }
        COMPARE_HEX(last_write, with_crc(hex("0165010602012c")));
        QCOMPARE(box->text(), QStringLiteral("30 "));
        QCOMPARE(box_colour(r.w.get(), 4), colour_green);

        QTest::keyClicks(box, QStringLiteral("7"));
        QTest::keyClick(box, Qt::Key_Escape);
        QCOMPARE(box->text(), QStringLiteral("30 "));
        QCOMPARE(box_colour(r.w.get(), 4), colour_green);
    }

    // A write's row in "Журнал изменений" comes up as it is sent and is
    // completed by its outcome; the newest is on top.
    void the_journal_window_follows_a_write()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.start_answered());
        r.w->findChild<QAction *>(QStringLiteral("mnu_journal"))->trigger();
        JournalWindow *journal = r.w->journal_window();
        QVERIFY(journal != nullptr && journal->isVisible());
        enter(r.box(4), QStringLiteral("25"));
        QTRY_COMPARE(journal->shown().size(), 1);
        QCOMPARE(journal_outcome_text(journal->shown()[0]), QStringLiteral("ожидается"));
        r.ticks(4);
        enter(r.box(6), QStringLiteral("50"));
        r.ticks(4);
        QTRY_VERIFY(journal->shown().size() == 2 &&
                    journal_outcome_text(journal->shown()[0]) == QStringLiteral("принято"));
        QCOMPARE(journal->shown()[0].intent["parameter"].toString(), QStringLiteral("ct_amps"));
        QCOMPARE(journal->shown()[1].intent["before"].toString(), QStringLiteral("12.5"));
        QCOMPARE(journal_outcome_text(journal->shown()[1]), QStringLiteral("принято"));
    }

    // A controller that echoes a write but keeps its old value (a worn
    // EEPROM) is caught by the read-back, whichever way the write went.
    void a_write_the_controller_did_not_take()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.start_answered());
        r.controller.ignore_writes = true;
        enter(r.box(4), QStringLiteral("30,5"));
        r.box(0)->setText(QStringLiteral("50"));
        r.ticks(4);
        QLineEdit *box = r.box(4);
        QCOMPARE(box->text(), QStringLiteral("12.5 "));
        QCOMPARE(box_colour(r.w.get(), 4), colour_not_taken);
        QCOMPARE(box->toolTip(), QStringLiteral("записано 30.5, контроллер хранит 12.5"));
        QVERIFY2(r.w->status().contains(QStringLiteral("не принял")), qPrintable(r.w->status()));

        r.w->findChild<QPushButton *>("cmd_writeall")->click();
        r.ticks(12);
        QCOMPARE(box_colour(r.w.get(), 0), colour_not_taken);
        QCOMPARE(r.box(0)->text(), QStringLiteral("100 "));
        QCOMPARE(box_colour(r.w.get(), 1), colour_green);
        // The write-all ends with what its read-backs found, all of them.
        QCOMPARE(r.w->status(), QStringLiteral("Записать всё: принято 8 из 9; контроллер не "
                                               "принял «") +
                                    par_caption(0) + QStringLiteral("»"));
    }

    // Text with no number is never written: not by Enter, not by write-all,
    // and the box says so until its text changes. Write-all still writes the
    // rest of that box's group, with what the controller holds in its place.
    void text_without_a_number_is_refused()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.start_answered());
        const RequestRing &ring = LineDriver::ring(r.w->line());
        const int before = ring.pending();
        QLineEdit *box = r.box(5);
        box->setText(QStringLiteral("x20"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(ring.pending(), before);
        QCOMPARE(box_colour(r.w.get(), 5), colour_refused);
        QVERIFY(!box->toolTip().isEmpty());
        QCOMPARE(box->text(), QStringLiteral("x20"));

        for (int i = 0; i < par_count; ++i) {
            if (i != 5)
                r.box(i)->setText(QStringLiteral("1"));
        }
        r.w->findChild<QPushButton *>("cmd_writeall")->click();
        QCOMPARE(ring.pending(), before + 3);
        QCOMPARE(pdu_at(ring, ring.slot(before)), QByteArray::fromHex("6501010501010103e8"));
        // Box 5 keeps the controller's 20 A (0x4e20); boxes 4, 6 and 7 are written.
        QCOMPARE(pdu_at(ring, ring.slot(before + 1)),
                 QByteArray::fromHex("65010608000a4e20000a03e8"));
        QCOMPARE(box_colour(r.w.get(), 5), colour_refused);
        QVERIFY2(r.w->status().contains(QStringLiteral("«Макс I (мгн), А»")),
                 qPrintable(r.w->status()));
        r.ticks(12);
        QCOMPARE(r.w->status(),
                 QStringLiteral("Записать всё: контроллер хранит записанные "
                                "значения; не записаны «Макс I (мгн), А» (нет числа)"));

        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box_colour(r.w.get(), 5), colour_white);
        QCOMPARE(box->toolTip(), QStringLiteral("Контроллер хранит 20 (Esc — показать)"));
    }

    // Before anything was read, a box without a number keeps its group out,
    // and every box of that group says why.
    void write_all_before_any_reply()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.w->Form_Load());
        for (int i = 0; i < par_count; ++i)
            r.box(i)->setText(i == 5 ? QStringLiteral("-") : QStringLiteral("1"));
        const int before = LineDriver::ring(r.w->line()).pending();
        r.w->findChild<QPushButton *>("cmd_writeall")->click();
        QCOMPARE(LineDriver::ring(r.w->line()).pending(), before + 2);
        for (int i : {4, 6, 7}) {
            QCOMPARE(box_colour(r.w.get(), i), colour_refused);
            QVERIFY(r.box(i)->toolTip().contains(QStringLiteral("«Макс I (мгн), А»")));
        }
        QCOMPARE(box_colour(r.w.get(), 3), colour_white);
    }

    // Another address is another controller: what the boxes and labels
    // showed is taken back, a write typed for the first one is cancelled,
    // and everything is read from the new one.
    void another_address_is_another_controller()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.start_answered());
        r.controller.silent = true;
        enter(r.box(4), QStringLiteral("40"));
        r.ticks(2);
        QCOMPARE(r.w->line().pending_writes(), 1);
        QVERIFY(r.w->status().endsWith(QStringLiteral("(ожидают записи: 1)")));

        FakeController second;
        second.address = 2;
        second.memory = hex("5a5b5c"
                            "05dc"
                            "012c"
                            "4e20"
                            "03e8"
                            "0000"
                            "01");
        r.port->responder = [&](const QByteArray &frame) { return second(frame); };
        r.w->findChild<QComboBox *>("cmb_slad")->setCurrentIndex(2);
        QCOMPARE(r.w->line().pending_writes(), 0);
        QCOMPARE(box_colour(r.w.get(), 4), colour_refused);
        QCOMPARE(box_colour(r.w.get(), 0), colour_white);
        QCOMPARE(r.box(0)->text(), QStringLiteral("100 ")); // the text stays
        QCOMPARE(caption(r.w.get(), Caption::phAI), QStringLiteral("-"));
        r.ticks(8);
        QCOMPARE(r.box(0)->text(), QStringLiteral("90 "));
        QCOMPARE(box_colour(r.w.get(), 8), colour_green);
        QCOMPARE(second.memory.mid(5, 2), hex("012c")); // the cancelled 40 s never came
    }

    // Live values that are not fresh look it: greyed with since when while
    // the port is away, normal again with the next good reply.
    void stale_values_are_greyed()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.start_answered());
        const auto grey = [&] {
            return r.w->findChild<QLabel *>("lbl_phAI")->palette().color(QPalette::WindowText) ==
                   QColor(0x80, 0x80, 0x80);
        };
        QVERIFY(!grey());
        r.port->lose();
        r.ticks(1);
        QVERIFY(grey());
        QVERIFY(r.w->findChild<QLabel *>("lbl_fr")->toolTip().startsWith(
            QStringLiteral("Нет свежих значений с ")));
        r.port->make_free({1});
        LineDriver::session(r.w->line()).retry_lost_port();
        r.ticks(8);
        QVERIFY(!grey());
    }

    // A request that finds the ring full is refused where the operator sees it.
    void a_full_ring_is_said()
    {
        Rig r({});
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Ok};
        DialogDriver driver;
        driver.actions = {[](WndSetCom &dlg) { click(dlg, "Отмена"); }};
        QVERIFY(r.w->Form_Load()); // no port: nothing leaves the ring
        QLineEdit *box = r.box(4);
        for (int k = 0; k < ring_slots; ++k) {
            box->setText(QStringLiteral("1"));
            QTest::keyClick(box, Qt::Key_Return);
        }
        QCOMPARE(LineDriver::ring(r.w->line()).pending(), ring_slots - 1);
        QCOMPARE(box_colour(r.w.get(), 4), colour_refused);
        QVERIFY(box->toolTip().contains(QStringLiteral("Очередь запросов заполнена")));
        QVERIFY(r.w->status().contains(QStringLiteral("Очередь запросов заполнена")));
    }

    // What a good reply says reaches the labels exactly as they show it.
    // clang-format off
    void replies_shown_in_the_window_data()
    {
        QTest::addColumn<QByteArray>("data"); // registers 200..209, 20 bytes
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QStringList>("shown"); // pr, sw, A, B, C, f, ain1, ain2
        QTest::newRow("zeros") << QByteArray(20, 0) << QLocale::c()
                               << QStringList{"0 .00 ", "0 .00 ", "0 ", "0 ", "0 ", "0 ", "0 ", "0 "};
        QTest::newRow("typical")
            << hex("0000" "0205" "020c" "0000" "04b0" "ffff" "0001" "1388" "0007" "00ff")
            << QLocale::c()
            << QStringList{"2 .05 ", "2 .12 ", "1.2 ", "65.535 ", "0.001 ", "50 ", "7 ", "255 "};
        QTest::newRow("minor 9 and 150, comma")
            << hex("0000" "0109" "0296" "0000" "04b0" "0000" "0000" "1389" "0000" "0000")
            << QLocale(QLocale::Russian, QLocale::Russia)
            << QStringList{"1 .09 ", "2 .150 ", "1,2 ", "0 ", "0 ", "50,01 ", "0 ", "0 "};
        QTest::newRow("arabic shows a point")
            << hex("0000" "0109" "0296" "0000" "04b0" "0000" "0000" "1389" "0000" "0000")
            << QLocale(QLocale::Arabic, QLocale::Egypt)
            << QStringList{"1 .09 ", "2 .150 ", "1.2 ", "0 ", "0 ", "50.01 ", "0 ", "0 "};
    }
    // clang-format on
    void replies_shown_in_the_window()
    {
        QFETCH(QByteArray, data);
        QFETCH(QLocale, locale);
        QFETCH(QStringList, shown);
        QLocale::setDefault(locale);
        Rig r;
        BoxAnswers boxes;
        QByteArray block = with_crc(hex("010314") + data);
        r.port->responder = [&](const QByteArray &frame) {
            return frame[1] == 3 ? block : r.controller(frame);
        };
        QVERIFY(r.w->Form_Load());
        r.ticks(5);
        const Caption order[] = {Caption::pr_ver, Caption::sw_ver, Caption::phAI,  Caption::phBI,
                                 Caption::phCI,   Caption::fr,     Caption::ain_0, Caption::ain_1};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(caption(r.w.get(), order[i]), shown[i]);
        QCOMPARE(r.w->status(), text_connected);
        // A reply shorter than the registers asked is no reading at all.
        block = with_crc(hex("01030400000307"));
        r.ticks(2);
        QCOMPARE(caption(r.w.get(), Caption::pr_ver), shown[0]);
        QCOMPARE(r.w->status(), QStringLiteral("Ошибка обмена: ответ не той длины"));
        // An exception reply is the connection text, then its code.
        block = with_crc(hex("018302"));
        r.ticks(2);
        QCOMPARE(r.w->status(), text_connected + QStringLiteral(" Нарушение протокола, код: 2"));
        QCOMPARE(caption(r.w.get(), Caption::fr), shown[5]);
    }

    void buttons_paint_white_and_queue()
    {
        Rig r({});
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Ok};
        DialogDriver driver;
        driver.actions = {[](WndSetCom &dlg) { click(dlg, "Отмена"); }};
        QVERIFY(r.w->Form_Load()); // port closed: the buttons queue all the same
        const RequestRing &ring = LineDriver::ring(r.w->line());
        for (int i = 0; i < 9; ++i)
            r.box(i)->setText(QStringLiteral("1 "));
        r.w->findChild<QPushButton *>("cmd_writeall")->click();
        for (int i = 0; i < 9; ++i)
            QCOMPARE(r.box(i)->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(ring.pending(), 6);
        QCOMPARE(pdu_at(ring, 3), QByteArray::fromHex("6501010501010103e8"));
        QCOMPARE(pdu_at(ring, 5), QByteArray::fromHex("65010e0101"));
        r.w->findChild<QPushButton *>("cmd_readall")->click();
        QCOMPARE(ring.pending(), 9);
        QCOMPARE(pdu_at(ring, 8), QByteArray::fromHex("64010e01"));
    }

    // Save, load, compare and the report, through the window's own menu.
    void parameter_files_through_the_menu()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.start_answered());
        QString chosen;
        file_dialog_fn() = [&](QWidget *, FileChoice &) { return chosen; };
        const auto run = [&](const char *name) {
            r.w->findChild<QAction *>(QString::fromLatin1(name))->trigger();
        };
        // The file holds what the controller holds; an edit not written is
        // not its value, and the status line says it was left out.
        r.box(8)->setText(QStringLiteral("0"));
        chosen = r.dir.filePath(QStringLiteral("device")); // typed without ".json"
        run("mnu_par_save");
        QCOMPARE(r.w->status(), QStringLiteral("Параметры сохранены в ") +
                                    QDir::toNativeSeparators(chosen + ".json") +
                                    QStringLiteral(" (значения контроллера; не записанные "
                                                   "изменения не вошли: «Реле(0-АПС, 1-Упр)»)"));
        QTest::keyClick(r.box(8), Qt::Key_Escape);
        QCOMPARE(r.box(8)->text(), QStringLiteral("1 "));
        const ParamFileRead saved = load_param_file(chosen + ".json", r.w->line().table());
        QVERIFY2(saved.file, qPrintable(saved.error));
        QCOMPARE(saved.file->raws, (ParRaws{100, 101, 102, 1500, 125, 20000, 1000, 0, 1}));
        QCOMPARE(saved.file->address, 1);

        // The comparison reads the controller, not the boxes: here it holds
        // 30 s by now, which the boxes do not show yet.
        ParamFile other = *saved.file;
        other.raws[4] = 300;
        chosen = r.dir.filePath(QStringLiteral("other.json"));
        QCOMPARE(save_param_file(chosen, r.w->line().table(), other), QString());
        r.controller.memory.replace(5, 2, hex("012c"));
        const qsizetype shown = boxes.shown.size();
        run("mnu_par_compare");
        QCOMPARE(boxes.shown.size(), shown); // nothing to say before the reads
        r.ticks(4);
        QTRY_COMPARE(boxes.shown.size(), shown + 1);
        QCOMPARE(boxes.shown.last().text,
                 QStringLiteral("Значения контроллера совпадают с файлом."));
        QCOMPARE(r.box(4)->text(), QStringLiteral("30 "));
        // What a comparison read is what the controller holds: it is saved.
        chosen = r.dir.filePath(QStringLiteral("after-compare.json"));
        run("mnu_par_save");
        QCOMPARE(load_param_file(chosen, r.w->line().table()).file->raws[4], 300);
        r.controller.memory.replace(5, 2, hex("007d"));
        run("mnu_par_compare");
        r.ticks(4);
        QTRY_COMPARE(boxes.shown.size(), shown + 2);
        QVERIFY(boxes.shown.last().text.contains(QStringLiteral("Таймер, с: 12.5 / 30")));
        QCOMPARE(box_colour(r.w.get(), 4), QRgb(0xFFFF80));
        QCOMPARE(box_colour(r.w.get(), 3), colour_green);

        // Another controller's file: the boxes take its values, white, unwritten.
        chosen = r.dir.filePath(QStringLiteral("other.json"));
        const int before = LineDriver::ring(r.w->line()).pending();
        run("mnu_par_load");
        QCOMPARE(r.box(4)->text(), QStringLiteral("30 "));
        QCOMPARE(box_colour(r.w.get(), 4), colour_white);
        QCOMPARE(box_colour(r.w.get(), 3), colour_white);
        QCOMPARE(LineDriver::ring(r.w->line()).pending(), before); // nothing written by loading
        for (const QString &said : {r.w->status(), r.box(4)->toolTip()})
            QVERIFY2(said.contains(QStringLiteral("other.json: в контроллер не записано до "
                                                  "«Записать всё в ЭСППЗУ»")),
                     qPrintable(said));

        // A broken file changes nothing and says why.
        QFile broken(r.dir.filePath(QStringLiteral("broken.json")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{\"format\": 2}");
        broken.close();
        chosen = broken.fileName();
        run("mnu_par_load");
        QCOMPARE(r.box(4)->text(), QStringLiteral("30 "));

        r.w->findChild<QPushButton *>("cmd_readall")->click();
        r.ticks(4);
        chosen = r.dir.filePath(QStringLiteral("sheet.pdf"));
        // The site is asked before the sheet, and offered again the next time.
        QStringList offered;
        const auto answer_site = [&](const QString &site) {
            QTimer::singleShot(0, this, [&offered, site] {
                auto *dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                auto *field = dlg ? dlg->findChild<QLineEdit *>("txt_site") : nullptr;
                if (field == nullptr)
                    return;
                offered << field->text();
                field->setText(site);
                dlg->accept();
            });
        };
        answer_site(QStringLiteral("ПС 110 кВ «Южная»"));
        run("mnu_report");
        QFile pdf(chosen);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
        QVERIFY(pdf.size() > 1000);
        answer_site(QString());
        run("mnu_report");
        QCOMPARE(offered, (QStringList{QString(), QStringLiteral("ПС 110 кВ «Южная»")}));
        file_dialog_fn() = nullptr;
    }
};

QTEST_MAIN(TestAppEditing)
#include "tst_app_editing.moc"
