#include "config.h"
#include "fake_config_view.h"
#include "fake_serial_port.h"
#include "line_driver.h"
#include "message_box.h"
#include "wnd_set_com.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString no_port = QStringLiteral("Порт не выбран");

// One dialog over a fake port with COM3 configured and an ini path in a
// fresh folder.
struct Rig {
    QTemporaryDir dir;
    QString ini = dir.filePath(QStringLiteral("тп.ini"));
    Line line{std::make_unique<FakeSerialPort>(), ini};
    PortSession &session = LineDriver::session(line);
    FakeSerialPort &port = static_cast<FakeSerialPort &>(session.port());
    uint8_t &com_port = session.com_port;
    bool &port_confirmed = session.port_confirmed;
    FakeConfigView view{17};
    WndSetCom dlg{line, view};

    explicit Rig(std::initializer_list<int> free)
    {
        port.make_free(free);
        com_port = 3;
    }

    QComboBox *list() const { return dlg.findChild<QComboBox *>(QStringLiteral("cmbCOMList")); }
    QPushButton *button(const QString &name) const { return dlg.findChild<QPushButton *>(name); }

    QStringList items() const
    {
        QStringList texts;
        for (int i = 0; i < list()->count(); ++i)
            texts << list()->itemText(i);
        return texts;
    }

    // The port was open on the configured number before the dialog came up;
    // false, and no dialog, when the port would not open.
    [[nodiscard]] bool load_with_port_open()
    {
        if (port.set_port_number(com_port) != PortError::None || port.open() != PortError::None)
            return false;
        port.open_attempts.clear();
        load();
        return true;
    }

    void load()
    {
        dlg.form_load();
        dlg.show();
    }

    // What the operator's choice from the drop-down list produces; false,
    // and nothing chosen, when the list has no such item.
    [[nodiscard]] bool choose(const QString &text)
    {
        const int i = list()->findText(text);
        if (i < 0)
            return false;
        list()->setCurrentIndex(i);
        emit list()->activated(i);
        return true;
    }

    QString ini_value(const QString &section, const QString &key) const
    {
        return read_ini_string(ini, section, key, QStringLiteral("<none>"));
    }
};

} // namespace

class TestPortDlg : public QObject {
    Q_OBJECT

private slots:
    void load_lists_free_ports_and_reopens_configured()
    {
        Rig rig({1, 3, 12});
        QVERIFY(rig.load_with_port_open());

        QCOMPARE(rig.items(), (QStringList{"COM1", "COM3", "COM12"}));
        QCOMPARE(rig.list()->currentIndex(), 1);
        QCOMPARE(rig.list()->currentText(), QStringLiteral("COM3"));
        QVERIFY(rig.port.is_open());
        QCOMPARE(rig.port.port_number(), 3);
        // Every number was tried, so the open port must have been closed first;
        // then the selection opened COM3 once and the final open found it open.
        QList<int> expected_attempts;
        for (int n = 1; n <= 16; ++n)
            expected_attempts << n;
        QCOMPARE(rig.port.open_attempts, expected_attempts << 3);

        QCOMPARE(rig.list()->itemData(0, Qt::ToolTipRole).toString(), rig.port.device_name(1));
        QCOMPARE(rig.list()->itemData(2, Qt::ToolTipRole).toString(), rig.port.device_name(12));

        // Loading alone neither writes the file nor reports anything.
        QVERIFY(!QFile::exists(rig.ini));
        QVERIFY(rig.view.statuses.isEmpty());
    }

    // The window is kept drawn between two probes, but never while a probed
    // port is open: a tick then would send the head request (a write, say)
    // to whatever device sits on that port.
    void probe_lets_events_run_between_ports()
    {
        Rig rig({1, 3, 12});
        // A posted call that reposts itself runs once per pass of the event loop.
        QList<int> open_during_yield;
        int yields = 0;
        bool loading = true;
        std::function<void()> watch = [&] {
            if (!loading)
                return;
            ++yields;
            if (rig.port.is_open())
                open_during_yield << rig.port.port_number();
            QMetaObject::invokeMethod(&rig.dlg, watch, Qt::QueuedConnection);
        };
        QMetaObject::invokeMethod(&rig.dlg, watch, Qt::QueuedConnection);
        rig.dlg.form_load();
        loading = false;

        QCOMPARE(yields, 16);
        QCOMPARE(open_during_yield, QList<int>{});
    }

    void unavailable_configured_port_leaves_nothing_chosen_data()
    {
        QTest::addColumn<QList<int>>("free");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("held by another program")
            << QList<int>{1, 12} << true << QStringList{"COM1", "COM12"};
        QTest::newRow("missing") << QList<int>{1, 12} << false << QStringList{"COM1", "COM12"};
        QTest::newRow("nothing free") << QList<int>{} << false << QStringList{};
    }

    void unavailable_configured_port_leaves_nothing_chosen()
    {
        QFETCH(QList<int>, free);
        QFETCH(bool, busy);
        QFETCH(QStringList, items);
        Rig rig({});
        for (int n : free)
            rig.port.make_free({n});
        if (busy)
            rig.port.open_result[3] = PortError::Busy;
        rig.load();

        QCOMPARE(rig.items(), items);
        QCOMPARE(rig.list()->currentIndex(), -1);
        QCOMPARE(rig.list()->currentText(), QStringLiteral("Выберите порт"));
        QVERIFY(!rig.port.is_open());
        QCOMPARE(rig.port.open_attempts.last(), 3);

        // OK with nothing chosen stores port 0, which cannot be opened.
        rig.button(QStringLiteral("OK"))->click();
        QCOMPARE(rig.com_port, uint8_t(0));
        QCOMPARE(rig.ini_value("PC config", "COM"), QStringLiteral("0"));
        QVERIFY(!rig.port.is_open());
        QCOMPARE(rig.view.statuses.last(), no_port);
    }

    void choice_switches_live_port_and_ok_stores_it_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("demo");
        QTest::newRow("COM12 chosen") << QStringLiteral("COM12") << 12 << false;
        QTest::newRow("selection unchanged") << QString() << 3 << false;
        // Taken for the run, but the run's file is not the operator's.
        QTest::newRow("COM12 chosen in a demonstration") << QStringLiteral("COM12") << 12 << true;
    }

    void choice_switches_live_port_and_ok_stores_it()
    {
        QFETCH(QString, choice);
        QFETCH(int, stored);
        QFETCH(bool, demo);
        Rig rig({1, 3, 12});
        rig.dlg.set_demo(demo);
        QVERIFY(rig.load_with_port_open());
        if (!choice.isEmpty()) {
            QVERIFY(rig.choose(choice));
            QVERIFY(rig.port.is_open());
            QCOMPARE(rig.port.port_number(), stored);
        }
        const qsizetype before_ok = rig.port.open_attempts.size();

        rig.button(QStringLiteral("OK"))->click();

        QCOMPARE(rig.dlg.result(), int(QDialog::Accepted));
        QVERIFY(rig.port_confirmed);
        QCOMPARE(rig.com_port, uint8_t(stored));
        if (demo) {
            QVERIFY(!QFile::exists(rig.ini));
        } else {
            QCOMPARE(rig.ini_value("PC config", "COM"), QString::number(stored));
            QCOMPARE(rig.ini_value("VRE config", "MBSLAD"), QStringLiteral("17"));
        }
        QVERIFY(rig.port.is_open());
        QCOMPARE(rig.port.port_number(), stored);
        // Closed and reopened exactly once on the way out.
        QCOMPARE(rig.port.open_attempts.mid(before_ok), QList<int>{stored});
        QVERIFY(!rig.view.statuses.contains(no_port));
    }

    // Text typed over the list names a listed port (any case, or its number
    // alone) and chooses it; anything else is refused, and nothing stored.
    void typed_port_names_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored"); // 0: refused
        QTest::newRow("com12") << "com12" << 12;
        QTest::newRow("number alone") << " 12 " << 12;
        QTest::newRow("unlisted port") << "COM7" << 0;
        QTest::newRow("not a port") << "ttyUSB0" << 0;
    }
    void typed_port_names()
    {
        QFETCH(QString, typed);
        QFETCH(int, stored);
        QStringList boxes;
        message_box_fn() = [&](QWidget *, const QString &text, const QString &,
                               QMessageBox::StandardButtons, QMessageBox::Icon) {
            boxes << text;
            return QMessageBox::Ok;
        };
        Rig rig({1, 3, 12});
        QVERIFY(rig.load_with_port_open());
        // Typed as the operator types: into whatever holds the focus when
        // the list is clicked.
        QApplication::setActiveWindow(&rig.dlg);
        QVERIFY(QTest::qWaitForWindowActive(&rig.dlg));
        rig.list()->setFocus();
        QWidget *focused = QApplication::focusWidget();
        QVERIFY(focused == rig.list() || focused == rig.list()->lineEdit());
        rig.list()->lineEdit()->clear();
        QTest::keyClicks(focused, typed);
        // Enter in the list is ОК, though no button is the default one.
        QTest::keyClick(focused, Qt::Key_Return);
        QCOMPARE(rig.list()->count(), 3); // typed text never joins the probed ports
        message_box_fn() = nullptr;

        if (stored > 0) {
            QVERIFY(boxes.isEmpty());
            QCOMPARE(rig.dlg.result(), int(QDialog::Accepted));
            QCOMPARE(rig.com_port, uint8_t(stored));
            QCOMPARE(rig.ini_value("PC config", "COM"), QString::number(stored));
            QCOMPARE(rig.port.port_number(), stored);
        } else {
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes[0].contains(typed.trimmed()), qPrintable(boxes[0]));
            QVERIFY(rig.dlg.isVisible());
            QCOMPARE(rig.com_port, uint8_t(3));
            QVERIFY(!QFile::exists(rig.ini));
            QCOMPARE(rig.port.port_number(), 3);
        }
        QVERIFY(rig.port.is_open());
    }

    void other_closes_restore_previous_port_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Отмена") << QStringLiteral("Отмена");
        QTest::newRow("close button") << QStringLiteral("close");
        QTest::newRow("Esc") << QStringLiteral("Esc");
    }

    void other_closes_restore_previous_port()
    {
        QFETCH(QString, how);
        Rig rig({1, 3, 12});
        QVERIFY(rig.load_with_port_open());
        QVERIFY(rig.choose(QStringLiteral("COM12")));
        const qsizetype before_close = rig.port.open_attempts.size();

        if (how == QLatin1String("Отмена"))
            rig.button(how)->click();
        else if (how == QLatin1String("close"))
            QVERIFY(rig.dlg.close());
        else
            QTest::keyClick(&rig.dlg, Qt::Key_Escape);

        QVERIFY(!rig.dlg.isVisible());
        QCOMPARE(rig.com_port, uint8_t(3));
        QVERIFY(rig.port.is_open());
        QCOMPARE(rig.port.port_number(), 3);
        QCOMPARE(rig.port.open_attempts.mid(before_close), QList<int>{3});
        QVERIFY(!QFile::exists(rig.ini));
        QVERIFY(rig.view.statuses.isEmpty());
    }

    void reopening_probes_afresh()
    {
        Rig rig({1, 3, 12});
        rig.load();
        QVERIFY(rig.choose(QStringLiteral("COM12")));
        rig.button(QStringLiteral("OK"))->click();

        rig.port.make_free({5});
        rig.load();
        QCOMPARE(rig.items(), (QStringList{"COM1", "COM3", "COM5", "COM12"}));
        QCOMPARE(rig.list()->currentText(), QStringLiteral("COM12"));

        // The second close must unload again: the port goes back to COM12.
        QVERIFY(rig.choose(QStringLiteral("COM5")));
        rig.button(QStringLiteral("Отмена"))->click();
        QCOMPARE(rig.com_port, uint8_t(12));
        QCOMPARE(rig.port.port_number(), 12);
        QVERIFY(rig.port.is_open());
    }

    void layout()
    {
        Rig rig({1});
        rig.load();
        QVERIFY(QTest::qWaitForWindowActive(&rig.dlg));

        QCOMPARE(rig.dlg.objectName(), QStringLiteral("wndSetCOM"));
        QCOMPARE(rig.dlg.windowTitle(), QStringLiteral("Настройка порта"));
        QCOMPARE(rig.dlg.size(), QSize(311, 147));
        QCOMPARE(rig.dlg.minimumSize(), rig.dlg.maximumSize());
        const auto flags = rig.dlg.windowFlags();
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

        QComboBox *list = rig.list();
        QPushButton *ok = rig.button(QStringLiteral("OK"));
        QPushButton *cancel = rig.button(QStringLiteral("Отмена"));
        auto *label = rig.dlg.findChild<QLabel *>(QStringLiteral("Label1"));
        QVERIFY(list && ok && cancel && label);
        QCOMPARE(list->geometry(), QRect(152, 40, 105, 21));
        QCOMPARE(cancel->geometry(), QRect(32, 96, 89, 25));
        QCOMPARE(ok->geometry(), QRect(168, 96, 89, 25));
        QCOMPARE(label->geometry(), QRect(32, 40, 105, 17));
        QVERIFY(list->isEditable());
        QCOMPARE(ok->text(), QStringLiteral("\u041E\u041A"));
        QCOMPARE(cancel->text(), QStringLiteral("Отмена"));
        QCOMPARE(label->text(), QStringLiteral("Выберите порт:"));
        for (QPushButton *b : {ok, cancel})
            QVERIFY(!b->isDefault() && !b->autoDefault());

        // Focus starts on ОК; Tab walks ОК, Отмена, the list and back to ОК.
        QCOMPARE(QApplication::focusWidget(), ok);
        const QList<QWidget *> order{cancel, list, ok};
        for (QWidget *expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *focus = QApplication::focusWidget();
            QVERIFY(focus == expected || focus->parentWidget() == expected);
        }

        // Enter on a focused button presses nothing, since neither is default.
        QTest::keyClick(ok, Qt::Key_Return);
        QVERIFY(rig.dlg.isVisible());
    }
};

QTEST_MAIN(TestPortDlg)
#include "tst_portdlg.moc"
