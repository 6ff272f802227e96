#include "frm_main.h"

#include "message_box.h"
#include "par_exchange.h"
#include "wnd_set_com.h"

#include <QComboBox>
#include <QLabel>
#include <QTimer>

FrmMain::FrmMain(std::unique_ptr<SerialPort> port, QString config_path, QWidget *parent)
    : QMainWindow(parent), m_port(std::move(port)), m_config_path(std::move(config_path))
{
    m_modbus.port = m_port.get();
    m_modbus.view = this;
    m_modbus.table = &m_table;
    build_ui();
}

FrmMain::~FrmMain()
{
    // A dialog opened from the menu has no owner; it must not outlive the port.
    delete m_dialog.data();
}

bool FrmMain::Form_Load()
{
    read_config(m_config_path, m_com_port, *this);

    m_cmb_slad->clear();
    for (int a = 0; a <= 127; ++a)
        m_cmb_slad->addItem(QString::number(a));
    m_cmb_slad->setCurrentIndex(1);

    // A failed step is followed by the next one, not repeated: the port
    // dialog shown on failure opens the port the operator picks.
    const PortError number_error = m_port->set_port_number(m_com_port);
    if (number_error != PortError::None && !open_port_step(number_error))
        return false;
    const PortError open_error = m_port->open();
    if (open_error != PortError::None && !open_port_step(open_error))
        return false;

    show();
    m_cmb_slad->setFocus();
    m_timer->start();
    par_table_init(m_table);
    par_readall(m_modbus.ring, m_table);
    return true;
}

bool FrmMain::open_port_step(PortError error)
{
    const QString reason = error == PortError::Busy ? QStringLiteral(" занят другим приложением")
                                                    : QStringLiteral(" не доступен");
    const QString text = QStringLiteral("Порт COM") + QString::number(m_com_port) + reason +
                         QStringLiteral("\r\n") + QStringLiteral("Выберите другой порт");
    const auto answer = message_box(nullptr, text, QStringLiteral("Ошибка открытия порта"),
                                    QMessageBox::Ok | QMessageBox::Cancel,
                                    QMessageBox::Critical);
    if (answer != QMessageBox::Ok)
        return false;
    WndSetCom dialog(*m_port, m_com_port, m_port_confirmed, m_config_path, *this, this);
    dialog.form_load();
    dialog.exec();
    return true;
}

void FrmMain::Timer1_Timer()
{
    exchange_step(m_modbus);
}

void FrmMain::mnu_settings_Click()
{
    if (m_dialog) {
        m_dialog->show();
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    m_dialog = new WndSetCom(*m_port, m_com_port, m_port_confirmed, m_config_path, *this);
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while this one is open.
    m_dialog->setAttribute(Qt::WA_QuitOnClose, false);
    m_dialog->form_load();
    if (m_dialog)
        m_dialog->show();
}

void FrmMain::paint_all_white()
{
    for (auto &box : m_boxes)
        box.set_colour(colour_white);
}

void FrmMain::cmd_readall_Click()
{
    paint_all_white();
    par_readall(m_modbus.ring, m_table);
}

void FrmMain::cmd_writeall_Click()
{
    paint_all_white();
    par_writeall(m_modbus.ring, m_table,
                 [this](int i) -> const ParBox & { return m_boxes[size_t(i)]; });
}

void FrmMain::txt_par_Change(int index)
{
    m_boxes[size_t(index)].set_colour(colour_white);
}

void FrmMain::txt_par_KeyPress(int index, int key_ascii)
{
    if (key_ascii != 13)
        return;
    LineEditBox &box = m_boxes[size_t(index)];
    box.set_colour(colour_white);
    const int32_t raw = par_box_raw(m_table, index, box);
    par_write_request(m_modbus.ring, par_addr(m_table, index), raw, par_width(m_table, index));
}

QString FrmMain::status() const
{
    return m_lbl_sys_mes->text();
}

void FrmMain::set_status(const QString &text)
{
    m_lbl_sys_mes->setText(text);
}

int FrmMain::selected_address() const
{
    return m_cmb_slad->currentIndex();
}

QString FrmMain::caption(Caption which) const
{
    return m_captions.at(which)->text();
}

void FrmMain::set_caption(Caption which, const QString &text)
{
    m_captions.at(which)->setText(text);
}

void FrmMain::show_status_now(const QString &text)
{
    m_lbl_sys_mes->setText(text);
    m_lbl_sys_mes->repaint();
}

bool FrmMain::ask_retry(const QString &title, const QString &text)
{
    return message_box(this, text, title, QMessageBox::Retry | QMessageBox::Cancel,
                       QMessageBox::Critical) == QMessageBox::Retry;
}
