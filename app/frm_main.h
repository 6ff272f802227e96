#pragma once
// The main window: live values, the nine parameter boxes, the EEPROM buttons,
// the slave address, the status line, the polling timer and the serial port.

#include "config.h"
#include "journal_window.h"
#include "line.h"
#include "monitor_window.h"
#include "par_box.h"
#include "param_file.h"
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
    // rzt604-modbus --demo, before Form_Load: the titles say so and the
    // port dialog saves nothing.
    void set_demo();

    // ConfigView
    void show_status_now(const QString &text) override;
    int selected_address() const override;
    bool ask_retry(const QString &title, const QString &text) override;

    QString status() const;
    void set_status(const QString &text);

    const SerialPort &port() const { return m_line.port(); }
    Line &line() { return m_line; }
    uint8_t com_port() const { return m_line.com_port(); }
    WndSetCom *port_dialog() const { return m_dialog; }
    MonitorWindow *monitor() const { return m_monitor; }
    ScanWindow *scan_window() const { return m_scan; }

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
    void mnu_journal_Click();
    JournalWindow *journal_window() const { return m_journal_window; }
    // "О программе": version, Qt, the configuration file and the port's device.
    void mnu_about_Click();
    // F1: the operator's guide, or where it is to be had and the main keys.
    void key_guide_Click();
    QString about_text() const;

    // Live values older than this are shown greyed.
    static constexpr int stale_after_ms = 1000;
    // How long a message stands in the status line over the exchange status.
    static constexpr int notice_ms = 4000;

private:
    void build_ui();
    void build_frames(QWidget *area);
    void build_parameters(QWidget *area);
    void build_bottom(QWidget *area);
    void build_menus();
    void add_about_menu();
    bool open_port_step(PortError error);

    // What the line and the controller's model say, shown as the window shows it.
    void show_exchange(const Exchange &e);
    void show_measurement(const Measurement &m);
    // The live fields greyed, with since when, while no fresh value comes.
    void show_stale(bool stale);
    // Listens to the model of the controller the line talks to now.
    void bind_controller();
    void controller_changed(LineChange why);
    void writes_cancelled(const QList<int> &indices, const QString &why);
    void write_noted(const WriteNote &note);
    void journal_appended(const QJsonObject &record);
    void operation_ended(const OperationEnd &end);
    void report_write_all(const WriteAllResult &result);
    void write_all_ended(const OperationEnd &end);
    void compare_ended(const OperationEnd &end);
    // A line in the status bar for a few seconds, over the exchange status;
    // with sticky, until the next notice.
    void notify(const QString &text, bool sticky = false);
    QString exchange_status(const Exchange &e) const;
    // The nine values the controller holds; false, after telling the
    // operator which are not known, when some are not.
    bool confirmed_raws(ParRaws &raws, const QString &what);
    // What a file of the controller's values leaves out: the edits not written.
    QString edits_left_out() const;
    void inform(const QString &text, QMessageBox::Icon icon = QMessageBox::Information);
    // "РЗТ604-адр1-2026-12-07.json": the address and the day, for files saved.
    QString default_file_name(const QString &suffix) const;
    // A parameter file the operator picks, checked; none when cancelled or
    // refused. The path chosen goes to chosen.
    std::optional<ParamFile> open_param_file(const QString &title, QString *chosen = nullptr);

    Line m_line;
    ParBoxes *m_par = nullptr;
    bool m_demo = false;

    QComboBox *m_cmb_slad = nullptr;
    QLabel *m_lbl_sys_mes = nullptr;
    // The value labels by the register they show (201, 202: the versions).
    std::map<int, QLabel *> m_values;
    std::array<QLineEdit *, par_count> m_boxes{};
    // When the live values last changed, for greying them.
    qint64 m_last_good_ms = 0;
    bool m_stale = false;
    // What "Записать всё" left out, said again at its end.
    QString m_writeall_left_out;
    QString m_notice;
    qint64 m_notice_until_ms = 0;
    TrendWindow *m_trend = nullptr;
    QPointer<WndSetCom> m_dialog;
    QPointer<MonitorWindow> m_monitor;
    QPointer<ScanWindow> m_scan;
    QPointer<JournalWindow> m_journal_window;
    // The writes of this session as the journal has them, for the sheet.
    QList<JournalEntry> m_changes;
};
