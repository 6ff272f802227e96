// The main window with a fake port: controls, start-up order, the port error
// paths and the parameter editing handlers.
#include "classic_frame.h"
#include "fake_serial_port.h"
#include "frames.h"
#include "frm_main.h"
#include "message_box.h"
#include "par_box.h"
#include "param_file.h"
#include "window_probe.h"
#include "wnd_set_com.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

struct Box {
    QString text, title;
};

// Answers every message box with the next prepared answer, recording it.
class BoxAnswers {
public:
    QList<Box> shown;
    QList<QMessageBox::StandardButton> answers;
    BoxAnswers()
    {
        message_box_fn() = [this](QWidget *, const QString &text, const QString &title,
                                  QMessageBox::StandardButtons, QMessageBox::Icon) {
            shown.append({text, title});
            return answers.isEmpty() ? QMessageBox::Cancel : answers.takeFirst();
        };
    }
    ~BoxAnswers() { message_box_fn() = nullptr; }
};

// Runs the given actions on the modal port dialogs as they come up.
class DialogDriver : public QObject {
public:
    QList<std::function<void(WndSetCom &)>> actions;
    int seen = 0;
    DialogDriver()
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *dlg = qobject_cast<WndSetCom *>(QApplication::activeModalWidget());
            if (dlg == nullptr || actions.isEmpty())
                return;
            ++seen;
            actions.takeFirst()(*dlg);
        });
        m_poll.start(5);
    }

private:
    QTimer m_poll;
};

void choose(WndSetCom &dlg, const QString &item)
{
    auto *list = dlg.findChild<QComboBox *>(QStringLiteral("cmbCOMList"));
    const int i = list->findText(item);
    QVERIFY2(i >= 0, qPrintable(item));
    list->setCurrentIndex(i);
    emit list->activated(i);
}

void click(WndSetCom &dlg, const char *name)
{
    dlg.findChild<QPushButton *>(QString::fromUtf8(name))->click();
}

struct Rig {
    QTemporaryDir dir;
    FakeSerialPort *port = nullptr;
    std::unique_ptr<FrmMain> w;
    explicit Rig(std::initializer_list<int> free_ports = {1})
    {
        auto p = std::make_unique<FakeSerialPort>();
        p->make_free(free_ports);
        port = p.get();
        w = std::make_unique<FrmMain>(std::move(p), ini());
    }
    QString ini() const { return dir.filePath(QStringLiteral("тп.ini")); }
    void write_ini(const QByteArray &text) const
    {
        QFile f(ini());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QLineEdit *box(int i) const
    {
        return w->findChild<QLineEdit *>(QStringLiteral("txt_par_%1").arg(i));
    }
};

const QString busy_text =
    QStringLiteral("Порт COM%1 занят другим приложением\r\nВыберите другой порт");
const QString missing_text = QStringLiteral("Порт COM%1 не доступен\r\nВыберите другой порт");

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
        QTest::newRow("read all") << "cmd_readall" << "Прочитать всё из ЭСППЗУ" << QRect(328, 136, 113, 49);
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
                                    QStringLiteral("mnu_monitor Монитор обмена"),
                                    QStringLiteral("mnu_scan Поиск устройства"),
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
        QVERIFY(r.w->timer()->isActive());
        QCOMPARE(r.w->timer()->timerType(), Qt::PreciseTimer);
        const RequestRing &ring = r.w->modbus().ring;
        QCOMPARE(ring.pending(), 3);
        QCOMPARE(pdu_at(ring, 0), QByteArray::fromHex("64010105"));
        QCOMPARE(pdu_at(ring, 2), QByteArray::fromHex("64010e01"));
        QCOMPARE(r.w->status(), QString());
        // The first tick sends the head of the ring.
        r.w->Timer1_Timer();
        COMPARE_HEX(r.port->written.value(0), with_crc(hex("0164010105")));
    }

    void configured_port_is_used_and_address_file_value_ignored()
    {
        Rig r({7});
        r.write_ini("[PC config]\nCOM = 7 \n[VRE config]\nMBSLAD=5\n");
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
        r.write_ini("[PC config]\r\nCOM=3\r\n");
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Cancel};
        QVERIFY(!r.w->Form_Load());
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, text);
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Ошибка открытия порта"));
        QVERIFY(!r.w->isVisible());
        QVERIFY(!r.w->timer()->isActive());
        QCOMPARE(r.w->modbus().ring.pending(), 0);
    }

    void port_error_ok_shows_the_dialog_then_starts()
    {
        Rig r({2});
        r.write_ini("[PC config]\r\nCOM=3\r\n");
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Ok};
        DialogDriver driver;
        driver.actions = {[](WndSetCom &dlg) {
            choose(dlg, QStringLiteral("COM2"));
            click(dlg, "OK");
        }};
        QVERIFY(r.w->Form_Load());
        QCOMPARE(driver.seen, 1);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, missing_text.arg(3));
        QVERIFY(r.port->is_open());
        QCOMPARE(r.port->port_number(), 2);
        QCOMPARE(r.w->com_port(), uint8_t(2));
        QVERIFY(r.w->isVisible());
        QVERIFY(r.w->timer()->isActive());
        QCOMPARE(r.w->modbus().ring.pending(), 3);
    }

    void port_error_dialog_closed_without_a_port()
    {
        Rig r({});
        r.write_ini("[PC config]\r\nCOM=3\r\n");
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Ok};
        DialogDriver driver;
        driver.actions = {[](WndSetCom &dlg) { click(dlg, "Отмена"); }};
        QVERIFY(r.w->Form_Load());
        QVERIFY(!r.port->is_open());
        QVERIFY(r.w->isVisible());
        // No port was opened, so nothing is blamed on the controller or the line.
        r.w->Timer1_Timer();
        QCOMPARE(r.w->status(), QStringLiteral("Порт COM3 не открыт: не доступен"));
        QVERIFY(r.port->written.isEmpty());
    }

    void bad_number_then_busy_round()
    {
        // COM=0 cannot be set; the dialog then opens COM2, so the open that
        // follows finds the port busy and asks a second time.
        Rig r({2});
        r.write_ini("[PC config]\r\nCOM=0\r\n");
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Ok, QMessageBox::Ok};
        DialogDriver driver;
        driver.actions = {[](WndSetCom &dlg) {
                              choose(dlg, QStringLiteral("COM2"));
                              click(dlg, "OK");
                          },
                          [](WndSetCom &dlg) { click(dlg, "OK"); }};
        QVERIFY(r.w->Form_Load());
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[0].text, missing_text.arg(0));
        QCOMPARE(boxes.shown[1].text, busy_text.arg(2));
        QCOMPARE(driver.seen, 2);
        QVERIFY(r.port->is_open());
        QCOMPARE(r.port->port_number(), 2);
        QVERIFY(r.w->isVisible());
    }

    void bad_number_then_busy_round_cancel()
    {
        Rig r({2});
        r.write_ini("[PC config]\r\nCOM=0\r\n");
        BoxAnswers boxes;
        boxes.answers = {QMessageBox::Ok, QMessageBox::Cancel};
        DialogDriver driver;
        driver.actions = {[](WndSetCom &dlg) {
            choose(dlg, QStringLiteral("COM2"));
            click(dlg, "OK");
        }};
        QVERIFY(!r.w->Form_Load());
        QVERIFY(!r.w->isVisible());
    }

    void editing_and_enter()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.w->Form_Load());
        RequestRing &ring = r.w->modbus().ring;
        const int before = ring.pending();
        QLineEdit *box = r.box(4);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("12,5"));
        QCOMPARE(box->palette().color(QPalette::Base), QColor(Qt::white));
        QCOMPARE(ring.pending(), before); // typing queues nothing
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(ring.pending(), before + 1);
        QCOMPARE(pdu_at(ring, before), QByteArray::fromHex("65010602007d"));
        QCOMPARE(box->text(), QStringLiteral("12,5")); // left as typed
        QTest::keyClick(box, Qt::Key_Enter);
        QCOMPARE(ring.pending(), before + 2);

        // A reply shows the value in green; the change handler ran before that.
        r.port->incoming = with_crc(hex("0165010602007d"));
        r.w->Timer1_Timer();
        QCOMPARE(box->text(), QStringLiteral("12.5 "));
        QCOMPARE(box_colour(r.w.get(), 4), colour_green);
    }

    // Text with no number is never written: not by Enter, not by write-all,
    // and the box says so until its text changes.
    void text_without_a_number_is_refused()
    {
        Rig r;
        BoxAnswers boxes;
        QVERIFY(r.w->Form_Load());
        RequestRing &ring = r.w->modbus().ring;
        const int before = ring.pending();
        QLineEdit *box = r.box(5);
        box->setText(QStringLiteral("x20"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(ring.pending(), before);
        QCOMPARE(box_colour(r.w.get(), 5), colour_refused);
        QVERIFY(!box->toolTip().isEmpty());
        QCOMPARE(box->text(), QStringLiteral("x20"));

        // Write-all sends the groups whose boxes all hold numbers.
        for (int i = 0; i < par_count; ++i) {
            if (i != 5)
                r.box(i)->setText(QStringLiteral("1"));
        }
        r.w->findChild<QPushButton *>("cmd_writeall")->click();
        QCOMPARE(ring.pending(), before + 2);
        QCOMPARE(pdu_at(ring, before), QByteArray::fromHex("6501010501010103e8"));
        QCOMPARE(pdu_at(ring, before + 1), QByteArray::fromHex("65010e0101"));
        QCOMPARE(box_colour(r.w.get(), 5), colour_refused);
        QCOMPARE(box_colour(r.w.get(), 4), colour_white);

        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box_colour(r.w.get(), 5), colour_white);
        QVERIFY(box->toolTip().isEmpty());
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
        QVERIFY(r.w->Form_Load());
        r.port->incoming = with_crc(hex("010314") + data);
        r.w->Timer1_Timer();
        const Caption order[] = {Caption::pr_ver, Caption::sw_ver, Caption::phAI,  Caption::phBI,
                                 Caption::phCI,   Caption::fr,     Caption::ain_0, Caption::ain_1};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(caption(r.w.get(), order[i]), shown[i]);
        QCOMPARE(r.w->status(), text_link_ok);
        // A short reply afterwards changes only what it carries.
        r.port->incoming = with_crc(hex("01030400000307"));
        r.w->Timer1_Timer();
        QCOMPARE(caption(r.w.get(), Caption::pr_ver), QStringLiteral("3 .07 "));
        QCOMPARE(caption(r.w.get(), Caption::fr), shown[5]);
        // An exception reply is the connection text, then its code.
        r.port->incoming = with_crc(hex("018302"));
        r.w->Timer1_Timer();
        QCOMPARE(r.w->status(), text_link_ok + QStringLiteral(" Нарушение протокола, код: 2"));
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
        RequestRing &ring = r.w->modbus().ring;
        for (int i = 0; i < 9; ++i)
            show_value(r.box(i), 1, 3, 1, QString());
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
        QVERIFY(r.w->Form_Load());
        QString chosen;
        file_dialog_fn() = [&](QWidget *, bool, const QString &, const QString &) {
            return chosen;
        };
        const auto run = [&](const char *text) {
            for (QAction *a : r.w->findChild<QMenu *>("mnu_params")->actions()) {
                if (a->text() == QString::fromUtf8(text))
                    a->trigger();
            }
        };
        const auto reply = [&](const char *frame) {
            r.port->incoming = with_crc(hex(frame));
            r.w->Timer1_Timer();
        };
        reply("01640101056465661388");
        reply("0164010608007d4e2003e80000");
        chosen = r.dir.filePath(QStringLiteral("device.json"));
        run("Сохранить в файл…"); // box 8 not confirmed yet
        QVERIFY(!QFile::exists(chosen));
        QVERIFY(boxes.shown.last().text.contains(QStringLiteral("Реле(0-АПС, 1-Упр)")));
        reply("0164010e0101");
        run("Сохранить в файл…");
        const ParamFileRead saved = load_param_file(chosen, r.w->master().table());
        QVERIFY2(saved.file, qPrintable(saved.error));
        QCOMPARE(saved.file->raws, (ParRaws{100, 101, 102, 5000, 125, 20000, 1000, 0, 1}));
        QCOMPARE(saved.file->address, 1);

        // Another controller's file: the boxes take its values, white, unwritten.
        ParamFile other = *saved.file;
        other.raws[4] = 300;
        chosen = r.dir.filePath(QStringLiteral("other.json"));
        QCOMPARE(save_param_file(chosen, r.w->master().table(), other), QString());
        run("Сравнить с файлом…");
        QVERIFY(boxes.shown.last().text.contains(QStringLiteral("Таймер, с: 12.5 / 30")));
        QCOMPARE(box_colour(r.w.get(), 4), QRgb(0xFFFF80));
        QCOMPARE(box_colour(r.w.get(), 3), colour_green);
        const int before = r.w->modbus().ring.pending();
        run("Загрузить из файла…");
        QCOMPARE(r.box(4)->text(), QStringLiteral("30 "));
        QCOMPARE(box_colour(r.w.get(), 4), colour_white);
        QCOMPARE(box_colour(r.w.get(), 3), colour_white);
        QCOMPARE(r.w->modbus().ring.pending(), before); // nothing written by loading

        // A broken file changes nothing and says why.
        QFile broken(r.dir.filePath(QStringLiteral("broken.json")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{\"format\": 2}");
        broken.close();
        chosen = broken.fileName();
        run("Загрузить из файла…");
        QCOMPARE(r.box(4)->text(), QStringLiteral("30 "));

        reply("01640101056465661388");
        reply("0164010608007d4e2003e80000");
        reply("0164010e0101");
        chosen = r.dir.filePath(QStringLiteral("sheet.pdf"));
        run("Отчёт…");
        QFile pdf(chosen);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
        QVERIFY(pdf.size() > 1000);
        file_dialog_fn() = nullptr;
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
        QVERIFY(r.w->timer()->isActive());
        r.w->menuBar()->actions()[0]->trigger();
        QCOMPARE(r.w->port_dialog(), dlg.data()); // shown again, not loaded again
        choose(*dlg, QStringLiteral("COM4"));
        QCOMPARE(r.port->port_number(), 4);
        click(*dlg, "OK");
        QTRY_VERIFY(dlg.isNull());
        QCOMPARE(r.w->com_port(), uint8_t(4));
        QVERIFY(r.port->is_open());
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
