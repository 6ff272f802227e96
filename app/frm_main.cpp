#include "frm_main.h"

#include "journal_window.h"
#include "message_box.h"
#include "trend_window.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace {

void show_on_top(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

FrmMain::FrmMain(std::unique_ptr<SerialPort> port, QString config_path, QWidget *parent)
    : QMainWindow(parent), m_line(std::move(port), std::move(config_path))
{
    // Destroyed as a member before the window's children are.
    m_line.setParent(this);
    build_ui();
    m_par = new ParBoxes(m_boxes, this);
    connect(&m_line, &Line::exchanged, this, &FrmMain::show_exchange);
    connect(&m_line, &Line::changed, this, &FrmMain::controller_changed);
    connect(&m_line, &Line::writes_cancelled, this, &FrmMain::writes_cancelled);
    connect(&m_line, &Line::journal_failed, this, [this](const QString &why) { notify(why); });
    connect(&m_line.journal(), &Journal::appended, this, &FrmMain::journal_appended);
    connect(&m_line, &Line::scan_started, this, [this] {
        // The search owns the port: nothing fresh comes meanwhile.
        show_stale(true);
        show_status_now(QStringLiteral("Поиск устройства…"));
    });
    // Made now, so that it records and knows the limits before it is first shown.
    m_trend = new TrendWindow(this);
}

FrmMain::~FrmMain()
{
    // A dialog opened from the menu has no owner; it must not outlive the port.
    delete m_dialog.data();
    delete m_monitor.data();
    delete m_scan.data();
    delete m_journal_window.data();
}

bool FrmMain::Form_Load()
{
    uint8_t configured = m_line.com_port();
    read_config(m_line.config_path(), configured, *this);
    m_line.set_com_port(configured);

    // Filling the list selects its first item on the way; only the final
    // choice of address 1 reaches the line.
    m_cmb_slad->blockSignals(true);
    m_cmb_slad->clear();
    for (int a = 0; a <= 127; ++a)
        m_cmb_slad->addItem(QString::number(a));
    m_cmb_slad->setCurrentIndex(-1);
    m_cmb_slad->blockSignals(false);
    m_cmb_slad->setCurrentIndex(1);
    bind_controller();

    // A failed step is followed by the next one, not repeated: the port
    // dialog shown on failure opens the port the operator picks.
    const PortError number_error = m_line.set_port_number(com_port());
    if (number_error != PortError::None && !open_port_step(number_error))
        return false;
    const PortError open_error = m_line.open_configured();
    if (open_error != PortError::None && !open_port_step(open_error))
        return false;

    show();
    m_cmb_slad->setFocus();
    // Said once: every write needs the journal.
    if (const QString problem = m_line.journal().check(); !problem.isEmpty())
        notify(QStringLiteral("Журнал изменений недоступен (%1): запись параметров невозможна")
                   .arg(problem),
               true);
    m_line.start();
    m_line.read_all();
    // The operator cancelled the box about it; the port in use may not be
    // the one the file would have named.
    if (const QString problem = ini_file_problem(m_line.config_path()); !problem.isEmpty())
        notify(QStringLiteral("Файл настроек не прочитан: ") + problem);
    return true;
}

void FrmMain::set_demo()
{
    m_demo = true;
    setWindowTitle(windowTitle() + QStringLiteral(" (демонстрация)"));
}

bool FrmMain::open_port_step(PortError error)
{
    QString text =
        QStringLiteral("Порт COM") + QString::number(com_port()) + port_error_reason(error);
    // Where the port knows why (a lock file left behind, a server that refused).
    if (const QString detail = port().open_error_text(); !detail.isEmpty())
        text += QStringLiteral(": ") + detail;
    text += QStringLiteral("\r\nВыберите другой порт");
    const auto answer = message_box(nullptr, text, QStringLiteral("Ошибка открытия порта"),
                                    QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Critical);
    if (answer != QMessageBox::Ok)
        return false;
    WndSetCom dialog(m_line, *this, this);
    dialog.set_demo(m_demo);
    dialog.form_load();
    centre_on_screen(&dialog);
    dialog.exec();
    return true;
}

void FrmMain::mnu_trend_Click()
{
    show_on_top(m_trend);
}

void FrmMain::mnu_settings_Click()
{
    if (m_dialog) {
        show_on_top(m_dialog);
        return;
    }
    m_dialog = new WndSetCom(m_line, *this);
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while this one is open.
    m_dialog->setAttribute(Qt::WA_QuitOnClose, false);
    m_dialog->set_demo(m_demo);
    m_dialog->form_load();
    if (m_dialog)
        m_dialog->show();
}

void FrmMain::mnu_monitor_Click()
{
    // Made once, on first use: closing it only hides it and it keeps counting.
    if (!m_monitor) {
        m_monitor = new MonitorWindow;
        m_monitor->setAttribute(Qt::WA_QuitOnClose, false);
        connect(&m_line, &Line::exchanged, m_monitor, &MonitorWindow::add_exchange);
        connect(&m_line, &Line::port_returned, m_monitor, &MonitorWindow::add_reconnect);
        connect(&m_line, &Line::port_lost, m_monitor, [this] {
            m_monitor->add_event(QStringLiteral("порт ") + m_line.port_name() +
                                 QStringLiteral(" потерян"));
        });
        connect(&m_line, &Line::scan_started, m_monitor, [this] {
            m_monitor->add_event(QStringLiteral("поиск устройства начат, опрос приостановлен"));
        });
        connect(&m_line, &Line::scan_finished, m_monitor,
                [this] { m_monitor->add_event(QStringLiteral("поиск устройства окончен")); });
    }
    show_on_top(m_monitor);
}

void FrmMain::mnu_journal_Click()
{
    if (!m_journal_window) {
        m_journal_window = new JournalWindow(m_line.journal());
        m_journal_window->setAttribute(Qt::WA_QuitOnClose, false);
    } else {
        m_journal_window->reload();
    }
    show_on_top(m_journal_window);
}

void FrmMain::journal_appended(const QJsonObject &record)
{
    journal_take(m_changes, record);
}

void FrmMain::mnu_scan_Click()
{
    if (!m_scan) {
        m_scan = new ScanWindow(m_line);
        m_scan->setAttribute(Qt::WA_QuitOnClose, false);
        connect(m_scan, &ScanWindow::address_chosen, m_cmb_slad, &QComboBox::setCurrentIndex);
    }
    show_on_top(m_scan);
}

void FrmMain::cmd_readall_Click()
{
    if (!m_line.read_all())
        notify(QStringLiteral("Очередь запросов заполнена: чтение не поставлено"));
}

void FrmMain::cmd_writeall_Click()
{
    ParTexts texts;
    for (int i = 0; i < par_count; ++i)
        texts[size_t(i)] = m_par->text(i);
    report_write_all(m_line.write_all(texts));
}

void FrmMain::txt_par_Change(int index)
{
    if (m_par != nullptr)
        m_par->text_changed(index);
}

void FrmMain::txt_par_KeyPress(int index, int key_ascii)
{
    if (key_ascii != 13)
        return;
    switch (m_line.write_one(index, m_par->text(index))) {
    case Queued::yes:
        m_par->committed(index);
        break;
    case Queued::no_number:
        m_par->refuse(index, QStringLiteral("В поле нет числа: значение не записано"));
        break;
    case Queued::ring_full:
        m_par->refuse(index, QStringLiteral("Очередь запросов заполнена: значение не записано"));
        notify(
            QStringLiteral("Очередь запросов заполнена: «%1» не записан").arg(par_caption(index)));
        break;
    case Queued::not_recorded: // the status line says why
        m_par->refuse(index, QStringLiteral("Не записано: журнал изменений не записывается"));
        break;
    }
}
