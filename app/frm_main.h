#pragma once
// The main window: live values, the nine parameter boxes, the EEPROM buttons,
// the slave address, the status line, the polling timer and the serial port.

#include "config.h"
#include "link_view.h"
#include "modbus.h"
#include "par_box.h"
#include "par_table.h"
#include "serial_port.h"
#include "wnd_set_com.h"

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <map>
#include <memory>

class QComboBox;
class QLabel;
class QPushButton;
class QTimer;


class FrmMain : public QMainWindow, public LinkView, public ConfigView {
public:
    FrmMain(std::unique_ptr<SerialPort> port, QString config_path, QWidget *parent = nullptr);
    ~FrmMain() override;

    // Start-up. False when the operator cancelled the port error: the
    // program then ends without the window having been shown.
    bool Form_Load();

    // LinkView
    QString status() const override;
    void set_status(const QString &text) override;
    int selected_address() const override;
    QString caption(Caption which) const override;
    void set_caption(Caption which, const QString &text) override;
    ParBox &par_box(int index) override { return m_boxes[size_t(index)]; }

    // ConfigView
    void show_status_now(const QString &text) override;
    bool ask_retry(const QString &title, const QString &text) override;

    SerialPort &port() { return *m_port; }
    Modbus &modbus() { return m_modbus; }
    uint8_t com_port() const { return m_com_port; }
    QTimer *timer() const { return m_timer; }
    WndSetCom *port_dialog() const { return m_dialog; }

    void Timer1_Timer();
    void mnu_settings_Click();
    void cmd_readall_Click();
    void cmd_writeall_Click();
    void txt_par_Change(int index);
    void txt_par_KeyPress(int index, int key_ascii);

private:
    void build_ui();
    void build_frames(QWidget *area);
    void build_parameters(QWidget *area);
    void build_bottom(QWidget *area);
    bool open_port_step(PortError error);
    void paint_all_white();

    std::unique_ptr<SerialPort> m_port;
    QString m_config_path;
    uint8_t m_com_port = 0;
    bool m_port_confirmed = false;
    ParTable m_table;
    Modbus m_modbus;

    QTimer *m_timer = nullptr;
    QComboBox *m_cmb_slad = nullptr;
    QLabel *m_lbl_sys_mes = nullptr;
    std::map<Caption, QLabel *> m_captions;
    std::array<LineEditBox, par_count> m_boxes;
    QPointer<WndSetCom> m_dialog;
};
