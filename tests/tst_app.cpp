// The main window with a fake port: controls, start-up order, the port error
// paths and the menu's port dialog.
#include "app_rig.h"
#include "classic_frame.h"
#include "frames.h"
#include "line_driver.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSet>
#include <QSignalSpy>
#include <QSpinBox>

namespace {

// What a screen reader says an input is: on Linux a drop-down's name is its
// text, and its caption comes from the label it is labelled by.
QString spoken_name(QWidget *w)
{
    QAccessibleInterface *i = QAccessible::queryAccessibleInterface(w);
    const auto labels = i->relations(QAccessible::Label);
    return labels.isEmpty() ? i->text(QAccessible::Name)
                            : labels.first().first->text(QAccessible::Name);
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    // clang-format off
    void window_matches_the_layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("phase A") << "lbl_phAI" << "-" << QRect(80, 64, 73, 25);
        QTest::newRow("frequency") << "lbl_fr" << "-" << QRect(312, 64, 97, 25);
        QTest::newRow("ain 2") << "lbl_ain_1" << "-" << QRect(96, 32, 73, 25);
        QTest::newRow("I caption") << "lblc_U_1" << "I, А" << QRect(40, 64, 57, 25);
        QTest::newRow("sw version") << "lbl_sw_ver" << "-" << QRect(320, 248, 89, 17);
        QTest::newRow("status") << "lbl_sys_mes" << "" << QRect(232, 288, 414, 21);
        QTest::newRow("relay caption") << "Label1_0" << "Реле(0-АПС, 1-Упр)" << QRect(440, 240, 145, 25);
        QTest::newRow("timer caption") << "Label1_11" << "Таймер, с" << QRect(464, 144, 121, 25);
        QTest::newRow("box 2") << "txt_par_2" << "-" << QRect(592, 80, 49, 25);
        QTest::newRow("box 3") << "txt_par_3" << "-" << QRect(592, 120, 49, 25);
        QTest::newRow("read all") << "cmd_readall" << "Про&читать всё из ЭСППЗУ" << QRect(328, 136, 113, 49);
        QTest::newRow("address") << "cmb_slad" << "" << QRect(160, 288, 57, 21);
    }
    // clang-format on
    void window_matches_the_layout()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        Rig r;
        auto *w = r.w->findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(w->geometry(), geometry);
        QString shown;
        if (auto *l = qobject_cast<QLabel *>(w))
            shown = l->text();
        else if (auto *e = qobject_cast<QLineEdit *>(w))
            shown = e->text();
        else if (auto *b = qobject_cast<QPushButton *>(w))
            shown = b->text();
        else if (auto *c = qobject_cast<QComboBox *>(w))
            shown = c->currentText();
        QCOMPARE(shown, text);
    }

    void window_frame_menu_and_tab_order()
    {
        Rig r;
        QCOMPARE(r.w->windowTitle(), QStringLiteral("RZT-604Д. Тест протокола Modbus"));
        QCOMPARE(r.w->centralWidget()->size(), QSize(654, 317));
        QVERIFY(!(r.w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(r.w->minimumSize(), r.w->maximumSize());
        QStringList menu;
        for (const QAction *a : r.w->menuBar()->actions())
            menu << a->objectName() + QLatin1Char(' ') + a->text();
        QCOMPARE(menu, (QStringList{QStringLiteral("mnu_settings &Настройка порта"),
                                    QStringLiteral("mnu_monitor &Монитор обмена"),
                                    QStringLiteral("mnu_scan Поиск &устройства"),
                                    QStringLiteral("mnu_params &Параметры"),
                                    QStringLiteral("mnu_trend &Тренд"),
                                    QStringLiteral("mnu_about &О программе")}));
        QCOMPARE(dynamic_cast<ClassicFrame *>(r.w->findChild<QWidget *>("Frame2_0"))->title(),
                 QStringLiteral("Дифференциальные токи"));
        QCOMPARE(r.w->findChild<QTimer *>("Timer1")->interval(), 150);

        QStringList order{QStringLiteral("cmb_slad")};
        QWidget *w = r.w->findChild<QWidget *>("cmb_slad")->nextInFocusChain();
        for (int k = 0; k < 200 && order.size() < 11; ++k, w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus)
                order << w->objectName();
        }
        QCOMPARE(order.mid(0, 11),
                 (QStringList{"cmb_slad", "txt_par_0", "cmd_writeall", "cmd_readall", "txt_par_1",
                              "txt_par_2", "txt_par_3", "txt_par_4", "txt_par_5", "txt_par_6",
                              "txt_par_7"}));
    }

    void start_up_order()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.w->Form_Load());
        QVERIFY(boxes.shown.isEmpty());
        // The missing file was created with its defaults, before the list was filled.
        QFile f(r.ini());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[PC config]\r\nCOM=1\r\n[VRE config]\r\nMBSLAD=-1\r\n"));
        auto *slad = r.w->findChild<QComboBox *>("cmb_slad");
        QCOMPARE(slad->count(), 128);
        QCOMPARE(slad->itemText(127), QStringLiteral("127"));
        QCOMPARE(slad->currentText(), QStringLiteral("1"));
        QVERIFY(r.port->is_open());
        QCOMPARE(r.port->port_number(), 1);
        QVERIFY(r.w->isVisible());
        QVERIFY(LineDriver::timer(r.w->line())->isActive());
        QCOMPARE(LineDriver::timer(r.w->line())->timerType(), Qt::PreciseTimer);
        const RequestRing &ring = LineDriver::ring(r.w->line());
        QCOMPARE(ring.pending(), 3);
        QCOMPARE(pdu_at(ring, 0), QByteArray::fromHex("64010105"));
        QCOMPARE(pdu_at(ring, 2), QByteArray::fromHex("64010e01"));
        QCOMPARE(r.w->status(), QString());
        // The first tick sends the head of the ring.
        LineDriver::tick(r.w->line());
        COMPARE_HEX(r.port->written.value(0), with_crc(hex("0164010105")));
    }

    void configured_port_is_used_and_address_file_value_ignored()
    {
        Rig r({7});
        QVERIFY(r.write_ini("[PC config]\nCOM = 7 \n[VRE config]\nMBSLAD=5\n"));
        BoxAnswers boxes;
        QVERIFY(r.w->Form_Load());
        QCOMPARE(r.port->port_number(), 7);
        QVERIFY(r.port->is_open());
        QCOMPARE(r.w->selected_address(), 1);
    }

    // clang-format off
    void port_error_cancel_ends_start_up_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::newRow("busy") << int(PortError::Busy) << busy_text.arg(3);
        QTest::newRow("missing") << int(PortError::NotAvailable) << missing_text.arg(3);
    }
    // clang-format on
    void port_error_cancel_ends_start_up()
    {
        QFETCH(int, result);
        QFETCH(QString, text);
        Rig r;
        r.port->open_result[3] = PortError(result);
        QVERIFY(r.write_ini("[PC config]\r\nCOM=3\r\n"));
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Cancel};
        QVERIFY(!r.w->Form_Load());
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, text);
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Ошибка открытия порта"));
        QVERIFY(!r.w->isVisible());
        QVERIFY(!LineDriver::timer(r.w->line())->isActive());
        QCOMPARE(LineDriver::ring(r.w->line()).pending(), 0);
    }

    void port_error_ok_shows_the_dialog_then_starts()
    {
        Rig r({2});
        QVERIFY(r.write_ini("[PC config]\r\nCOM=3\r\n"));
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Ok};
        DialogDriver driver;
        bool chosen = false;
        driver.actions = {[&chosen](WndSetCom &dlg) {
            chosen = choose(dlg, QStringLiteral("COM2"));
            click(dlg, chosen ? "OK" : "Отмена");
        }};
        QVERIFY(r.w->Form_Load());
        QVERIFY(chosen);
        QCOMPARE(driver.seen, 1);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, missing_text.arg(3));
        QVERIFY(r.port->is_open());
        QCOMPARE(r.port->port_number(), 2);
        QCOMPARE(r.w->com_port(), uint8_t(2));
        QVERIFY(r.w->isVisible());
        QVERIFY(LineDriver::timer(r.w->line())->isActive());
        QCOMPARE(LineDriver::ring(r.w->line()).pending(), 3);
    }

    // An adapter plugged in after start-up is picked up: the configured
    // port is tried once a second, as a lost one is.
    void port_error_dialog_closed_without_a_port_then_a_late_plug()
    {
        Rig r({});
        QVERIFY(r.write_ini("[PC config]\r\nCOM=3\r\n"));
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Ok};
        DialogDriver driver;
        driver.actions = {[](WndSetCom &dlg) { click(dlg, "Отмена"); }};
        QVERIFY(r.w->Form_Load());
        QVERIFY(!r.port->is_open());
        QVERIFY(r.w->isVisible());
        // No port was opened, so nothing is blamed on the controller or the line.
        LineDriver::tick(r.w->line());
        QCOMPARE(r.w->status(),
                 QStringLiteral("Порт COM3 не открыт: не доступен, ожидание подключения"));
        QVERIFY(r.port->written.isEmpty());

        r.port->make_free({3});
        QSignalSpy changed(&r.w->line(), &Line::changed);
        LineDriver::session(r.w->line()).retry_lost_port();
        QVERIFY(r.port->is_open());
        QCOMPARE(r.port->port_number(), 3);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed[0][0].value<LineChange>(), LineChange::port_appeared);
        LineDriver::tick(r.w->line());
        COMPARE_HEX(r.port->written.value(0), with_crc(hex("0164010105")));
    }

    void bad_number_then_busy_round()
    {
        // COM=17 cannot be set; the dialog then opens COM2, so the open that
        // follows finds the port busy and asks a second time.
        Rig r({2});
        QVERIFY(r.write_ini("[PC config]\r\nCOM=17\r\n"));
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Ok, QMessageBox::Ok};
        DialogDriver driver;
        bool chosen = false;
        driver.actions = {[&chosen](WndSetCom &dlg) {
                              chosen = choose(dlg, QStringLiteral("COM2"));
                              click(dlg, chosen ? "OK" : "Отмена");
                          },
                          [](WndSetCom &dlg) { click(dlg, "OK"); }};
        QVERIFY(r.w->Form_Load());
        QVERIFY(chosen);
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[0].text, missing_text.arg(17));
        QCOMPARE(boxes.shown[1].text, busy_text.arg(2));
        QCOMPARE(driver.seen, 2);
        QVERIFY(r.port->is_open());
        QCOMPARE(r.port->port_number(), 2);
        QVERIFY(r.w->isVisible());
    }

    void bad_number_then_busy_round_cancel()
    {
        Rig r({2});
        QVERIFY(r.write_ini("[PC config]\r\nCOM=17\r\n"));
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Ok, QMessageBox::Cancel};
        DialogDriver driver;
        bool chosen = false;
        driver.actions = {[&chosen](WndSetCom &dlg) {
            chosen = choose(dlg, QStringLiteral("COM2"));
            click(dlg, chosen ? "OK" : "Отмена");
        }};
        QVERIFY(!r.w->Form_Load());
        QVERIFY(chosen);
        QVERIFY(!r.w->isVisible());
    }

    void menu_opens_one_modeless_dialog()
    {
        Rig r({1, 4});
        BoxAnswers boxes;
        QVERIFY(r.w->Form_Load());
        r.w->menuBar()->actions()[0]->trigger();
        QPointer<WndSetCom> dlg = r.w->port_dialog();
        QVERIFY(dlg);
        QVERIFY(dlg->isVisible());
        QVERIFY(!dlg->isModal());
        QVERIFY(dlg->parent() == nullptr);
        QVERIFY(!dlg->testAttribute(Qt::WA_QuitOnClose)); // the main window alone ends the program
        QVERIFY(LineDriver::timer(r.w->line())->isActive());
        r.w->menuBar()->actions()[0]->trigger();
        QCOMPARE(r.w->port_dialog(), dlg.data()); // shown again, not loaded again
        QVERIFY(choose(*dlg, QStringLiteral("COM4")));
        QCOMPARE(r.port->port_number(), 4);
        click(*dlg, "OK");
        QTRY_VERIFY(dlg.isNull());
        QCOMPARE(r.w->com_port(), uint8_t(4));
        QVERIFY(r.port->is_open());
    }

    // Alt and a letter reach every menu item and button, no letter twice in
    // one window or menu; F5 is the read-all button's.
    void every_command_has_its_own_key()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.start_answered());
        r.w->mnu_monitor_Click();
        r.w->mnu_scan_Click();
        const auto texts = [](const QWidget *w) {
            QStringList out;
            for (const QPushButton *b : w->findChildren<QPushButton *>()) {
                if (b->window() == w)
                    out << b->text();
            }
            for (const QLabel *l : w->findChildren<QLabel *>()) {
                if (l->buddy() != nullptr && l->text().contains(u'&'))
                    out << l->text();
            }
            return out;
        };
        QStringList main = texts(r.w.get());
        for (const QAction *a : r.w->menuBar()->actions())
            main << a->text();
        QStringList params;
        for (const QAction *a : r.w->findChild<QMenu *>("mnu_params")->actions())
            params << a->text();
        for (const QStringList &scope :
             {main, params, texts(r.w->monitor()), texts(r.w->scan_window())}) {
            QSet<QChar> seen;
            for (const QString &text : scope) {
                const qsizetype at = text.indexOf(u'&');
                QVERIFY2(at >= 0 && at + 1 < text.size() && text.indexOf(u'&', at + 1) < 0,
                         qPrintable(text));
                const QChar key = text[at + 1].toLower();
                QVERIFY2(key.isLetter() && !seen.contains(key), qPrintable(text));
                seen.insert(key);
            }
        }

        r.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(r.w.get()));
        const RequestRing &ring = LineDriver::ring(r.w->line());
        const int before = ring.pending();
        QTest::keyClick(r.w.get(), Qt::Key_F5);
        QCOMPARE(ring.pending(), before + 3);
        QCOMPARE(pdu_at(ring, ring.slot(before)), QByteArray::fromHex("64010105"));
    }

    // A screen reader names every input by its caption, never by the value
    // it holds, and reads the live values' frames as groups.
    void every_input_is_named()
    {
        Rig r({1, 2});
        BoxAnswers boxes;
        QVERIFY(r.start_answered());
        r.w->mnu_monitor_Click();
        r.w->mnu_scan_Click();
        r.w->mnu_settings_Click();
        for (QWidget *window :
             {static_cast<QWidget *>(r.w.get()), static_cast<QWidget *>(r.w->monitor()),
              static_cast<QWidget *>(r.w->scan_window()),
              static_cast<QWidget *>(r.w->port_dialog())}) {
            for (QWidget *w : window->findChildren<QWidget *>()) {
                // The edit and list inside a drop-down or spin box are parts of it.
                if (qobject_cast<QComboBox *>(w->parentWidget()) ||
                    qobject_cast<QHeaderView *>(w) ||
                    qobject_cast<QAbstractSpinBox *>(w->parentWidget()) || (w->window() != window))
                    continue;
                const auto *edit = qobject_cast<QLineEdit *>(w);
                const auto *list = qobject_cast<QComboBox *>(w);
                if (!edit && !list && !qobject_cast<QAbstractSpinBox *>(w) &&
                    !qobject_cast<QProgressBar *>(w) && !qobject_cast<QAbstractItemView *>(w) &&
                    !qobject_cast<QPlainTextEdit *>(w))
                    continue;
                const QString name = spoken_name(w);
                const QString value = edit ? edit->text() : list ? list->currentText() : QString();
                QVERIFY2(!name.isEmpty() && name != value,
                         qPrintable(w->objectName() + QLatin1Char(' ') +
                                    QLatin1String(w->metaObject()->className()) +
                                    QStringLiteral(": ") + name));
            }
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(r.box(4))->text(QAccessible::Name),
                 QStringLiteral("Таймер, с"));
        for (const char *name : {"Frame2_0", "Frame2_2"}) {
            auto *frame = r.w->findChild<ClassicFrame *>(name);
            QAccessibleInterface *group = QAccessible::queryAccessibleInterface(frame);
            QCOMPARE(group->role(), QAccessible::Grouping);
            QCOMPARE(group->text(QAccessible::Name), frame->title());
        }
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
