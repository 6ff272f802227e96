#pragma once
// The main window: live values, the nine parameter boxes, the EEPROM buttons,
// the slave address, the status line, the polling timer and the serial port.

#include "config.h"
#include "master.h"
#include "monitor_window.h"
#include "param_file.h"
#include "port_session.h"
#include "scan_window.h"
#include "wnd_set_com.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

#include <array>
#include <map>
#include <memory>
#include <optional>

class QComboBox;
class TrendWindow;
class QLabel;
class QLineEdit;
class QTimer;

class FrmMain : public QMainWindow, public ConfigView {
public:
    FrmMain(std::unique_ptr<SerialPort> port, QString config_path, QWidget *parent = nullptr);
    ~FrmMain() override;

    // Start-up. False when the operator cancelled the port error: the
    // program then ends without the window having been shown.
    bool Form_Load();

    // ConfigView
    void show_status_now(const QString &text) override;
    int selected_address() const override;
    bool ask_retry(const QString &title, const QString &text) override;

    QString status() const;
    void set_status(const QString &text);

    SerialPort &port() { return m_session.port(); }
    PortSession &session() { return m_session; }
    Master &master() { return m_master; }
    Modbus &modbus() { return m_master.link(); }
    uint8_t com_port() const { return m_session.com_port; }
    QTimer *timer() const { return m_timer; }
    WndSetCom *port_dialog() const { return m_dialog; }
    MonitorWindow *monitor() const { return m_monitor; }
    ScanWindow *scan_window() const { return m_scan; }

    void Timer1_Timer();
    void mnu_settings_Click();
    void mnu_monitor_Click();
    void mnu_scan_Click();
    void cmd_readall_Click();
    void cmd_writeall_Click();
    void txt_par_Change(int index);
    void txt_par_KeyPress(int index, int key_ascii);

    // The "Параметры" menu: files of the nine values and the report sheet.
    void mnu_par_save_Click();
    void mnu_par_load_Click();
    void mnu_par_compare_Click();
    void mnu_report_Click();
    void mnu_trend_Click();
    // "О программе": version, Qt, the configuration file and the port's device.
    void mnu_about_Click();
    QString about_text() const;
    TrendWindow *trend() const { return m_trend; }

private:
    void build_ui();
    void build_frames(QWidget *area);
    void build_parameters(QWidget *area);
    void build_bottom(QWidget *area);
    void build_menus();
    void add_about_menu();
    bool open_port_step(PortError error);
    void paint_all_white();

    // What the controller said, shown as the window shows it.
    void show_exchange(const Exchange &e);
    void show_measurement(const Measurement &m);
    void show_parameter(const ParConfirmation &c);
    // The nine values the boxes show confirmed; false, after telling the
    // operator which are not, when some box is not green.
    bool confirmed_raws(ParRaws &raws, const QString &what);
    void inform(const QString &text, QMessageBox::Icon icon = QMessageBox::Information);
    // A parameter file the operator picks, checked; none when cancelled or refused.
    std::optional<ParamFile> open_param_file(const QString &title);

    PortSession m_session;
    Master m_master;

    QTimer *m_timer = nullptr;
    QComboBox *m_cmb_slad = nullptr;
    QLabel *m_lbl_sys_mes = nullptr;
    // The value labels by the register they show (201, 202: the versions).
    std::map<int, QLabel *> m_values;
    std::array<QLineEdit *, par_count> m_boxes{};
    // What each box shows as confirmed by the controller, while it is green.
    std::array<std::optional<int32_t>, par_count> m_confirmed{};
    std::optional<Measurement> m_last_measurement;
    TrendWindow *m_trend = nullptr;
    QPointer<WndSetCom> m_dialog;
    QPointer<MonitorWindow> m_monitor;
    QPointer<ScanWindow> m_scan;
};
