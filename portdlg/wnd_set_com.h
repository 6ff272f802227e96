#pragma once
// The port selection dialog: probes COM1..COM16, lists the ports that open,
// switches the live port on every choice, and on OK stores the choice in the
// configuration file (not in a demonstration). Any other way of closing goes
// back to the port in use when the dialog was loaded.

#include <QDialog>
#include <QString>

#include <cstdint>

class ConfigView;
class QComboBox;
class QLabel;
class QPushButton;
class Line;

class WndSetCom : public QDialog {
    Q_OBJECT

public:
    // The line belongs to the main window and outlives the dialog.
    WndSetCom(Line &line, ConfigView &main_view, QWidget *parent = nullptr);

    // Probes the ports and fills the list; call before every show or exec.
    void form_load();

    // Every way of closing (OK, Отмена, close button, Esc) ends up here.
    void done(int r) override;

    // A demonstration (rzt604-modbus --demo): ОК takes the choice for this
    // run only and saves nothing; the title says so.
    void set_demo(bool demo);

protected:
    // Enter in the list is ОК, though neither button is the default one.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build_controls();
    void probe_ports();
    void select_configured_port();
    void cmbCOMList_Click();
    void OK_Click();
    void Cancel_Click();
    void Form_Unload();
    void reopen_port();
    // Number behind "COM" in the chosen item's text; 0 when nothing is chosen.
    int chosen_port_number() const;
    // The item the text typed over the list names, or -1.
    int typed_item() const;
    // Takes what is typed over the list as the choice; false, after saying
    // so, when it names no listed port.
    bool take_typed_text();

    Line &m_line;
    ConfigView &m_main_view;

    uint8_t m_saved_port = 0;
    bool m_loaded = false;
    bool m_demo = false;

    QComboBox *m_cmbCOMList = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
    QLabel *m_label1 = nullptr;
};
