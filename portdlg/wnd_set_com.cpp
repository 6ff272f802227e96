#include "wnd_set_com.h"

#include "config.h"
#include "line.h"
#include "message_box.h"
#include "port_info.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace {

const QString initial_list_text = QStringLiteral("Выберите порт");
const QString no_port_text = QStringLiteral("Порт не выбран");

QString item_text(int n)
{
    return QStringLiteral("COM%1").arg(n);
}

// 0 for no item; the port layer refuses that number.
int item_port_number(const QComboBox *list, int index)
{
    if (index < 0 || index >= list->count())
        return 0;
    return list->itemText(index).mid(3).toInt();
}

QPushButton *make_button(QWidget *parent, const QString &name, const QString &text,
                         const QRect &geometry)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    // Enter presses neither button; only a click or Space confirms.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

WndSetCom::WndSetCom(Line &line, ConfigView &main_view, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_line(line), m_main_view(main_view)
{
    setObjectName(QStringLiteral("wndSetCOM"));
    setWindowTitle(QStringLiteral("Настройка порта"));
    setFixedSize(311, 147);
    build_controls();
}

void WndSetCom::build_controls()
{
    // Created in tab order so that focus starts on ОК.
    m_ok = make_button(this, QStringLiteral("OK"), QStringLiteral("ОК"), {168, 96, 89, 25});
    m_cancel =
        make_button(this, QStringLiteral("Отмена"), QStringLiteral("Отмена"), {32, 96, 89, 25});

    m_cmbCOMList = new QComboBox(this);
    m_cmbCOMList->setObjectName(QStringLiteral("cmbCOMList"));
    m_cmbCOMList->setGeometry(152, 40, 105, 21);
    m_cmbCOMList->setEditable(true);
    // Typed text is never added to the list; only probed ports belong there.
    m_cmbCOMList->setInsertPolicy(QComboBox::NoInsert);
    m_cmbCOMList->setEditText(initial_list_text);
    m_cmbCOMList->setAccessibleName(QStringLiteral("Выберите порт"));
    // Enter reaches the list or its text, whichever holds the focus.
    m_cmbCOMList->installEventFilter(this);
    m_cmbCOMList->lineEdit()->installEventFilter(this);

    m_label1 = new QLabel(QStringLiteral("Выберите порт:"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(32, 40, 105, 17);
    m_label1->setBuddy(m_cmbCOMList);

    setTabOrder(m_ok, m_cancel);
    setTabOrder(m_cancel, m_cmbCOMList);
    m_ok->setFocus();

    connect(m_cmbCOMList, &QComboBox::activated, this, &WndSetCom::cmbCOMList_Click);
    connect(m_ok, &QPushButton::clicked, this, &WndSetCom::OK_Click);
    connect(m_cancel, &QPushButton::clicked, this, &WndSetCom::Cancel_Click);
}

bool WndSetCom::eventFilter(QObject *watched, QEvent *event)
{
    const bool list = watched == m_cmbCOMList || watched == m_cmbCOMList->lineEdit();
    if (list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // Taken here, before the list acts on it: OK_Click reads the typed text itself.
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OK_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void WndSetCom::form_load()
{
    m_loaded = true;
    // Closing and probing ports here is no loss of the port in use.
    m_line.hold_port(true);
    m_saved_port = m_line.com_port();
    // The port in use is probed like every other one.
    m_line.close_port();

    probe_ports();
    select_configured_port();

    // When the selection has opened the port this fails and changes
    // nothing; otherwise it is one more attempt at the configured port.
    (void)m_line.open_configured();
}

void WndSetCom::probe_ports()
{
    m_cmbCOMList->clear();
    for (int n = first_port_number; n <= last_port_number; ++n) {
        const bool port_free = m_line.probe(n);
        // Keeps the window drawn; the probed port is closed again by now, so
        // no tick sends the poll, or a pending write, to whatever is on it.
        QCoreApplication::processEvents();
        if (port_free) {
            m_cmbCOMList->addItem(item_text(n));
            m_cmbCOMList->setItemData(m_cmbCOMList->count() - 1,
                                      port_tooltip(m_line.port().device_name(n)), Qt::ToolTipRole);
        }
    }
    // Adding to an empty list selects its first item; nothing is chosen yet.
    m_cmbCOMList->setCurrentIndex(-1);
    m_cmbCOMList->setEditText(initial_list_text);
}

void WndSetCom::select_configured_port()
{
    const int index = m_cmbCOMList->findText(item_text(m_line.com_port()));
    if (index < 0)
        return;
    m_cmbCOMList->setCurrentIndex(index);
    // A programmatic choice switches the port just like the operator's.
    cmbCOMList_Click();
}

void WndSetCom::cmbCOMList_Click()
{
    (void)m_line.switch_to(item_port_number(m_cmbCOMList, m_cmbCOMList->currentIndex()));
}

int WndSetCom::typed_item() const
{
    const QString text = m_cmbCOMList->currentText().trimmed();
    // "COM5", "com5" and "5" all name the item COM5.
    static const QRegularExpression name(QStringLiteral("^(?:COM)?0*(\\d{1,3})$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto match = name.match(text);
    if (!match.hasMatch())
        return -1;
    return m_cmbCOMList->findText(item_text(match.captured(1).toInt()));
}

bool WndSetCom::take_typed_text()
{
    const QString text = m_cmbCOMList->currentText().trimmed();
    const int typed = typed_item();
    if (typed >= 0) {
        // Typed over the list: the named port is chosen as if picked.
        if (typed != m_cmbCOMList->currentIndex()) {
            m_cmbCOMList->setCurrentIndex(typed);
            cmbCOMList_Click();
        }
        return true;
    }
    // Nothing chosen and nothing typed: no port, as with an empty list.
    if (m_cmbCOMList->currentIndex() < 0 && (text.isEmpty() || text == initial_list_text))
        return true;
    const QString listed = m_cmbCOMList->count() > 0 ? QStringLiteral("Выберите порт из списка.")
                                                     : QStringLiteral("Свободных портов нет.");
    message_box(this,
                QStringLiteral("«%1» — не порт из списка. ").arg(text) + listed +
                    QStringLiteral(" Настройка не сохранена."),
                windowTitle(), QMessageBox::Ok, QMessageBox::Warning);
    return false;
}

int WndSetCom::chosen_port_number() const
{
    return item_port_number(m_cmbCOMList, m_cmbCOMList->currentIndex());
}

void WndSetCom::OK_Click()
{
    if (!take_typed_text())
        return;
    m_line.set_port_confirmed(true);
    m_line.set_com_port(uint8_t(chosen_port_number()));
    if (!m_demo)
        save_config(m_line.config_path(), m_line.com_port(), m_main_view);
    accept();
}

void WndSetCom::set_demo(bool demo)
{
    m_demo = demo;
    setWindowTitle(demo ? QStringLiteral("Настройка порта (демонстрация, не сохраняется)")
                        : QStringLiteral("Настройка порта"));
}

void WndSetCom::Cancel_Click()
{
    m_line.set_port_confirmed(false);
    reject();
}

void WndSetCom::done(int r)
{
    // The close button and Esc arrive here through reject(); the flag keeps a
    // second close of the same load from touching the port again.
    if (m_loaded) {
        m_loaded = false;
        Form_Unload();
        m_line.hold_port(false);
    }
    QDialog::done(r);
}

void WndSetCom::Form_Unload()
{
    m_line.close_port();
    if (!m_line.port_confirmed())
        m_line.set_com_port(m_saved_port);
    reopen_port();
}

void WndSetCom::reopen_port()
{
    if (m_line.port().is_open())
        return;
    // Port 0 (nothing chosen) is refused, and so is a port that cannot be
    // opened; either shows in the status line.
    if (m_line.open_configured() != PortError::None)
        m_main_view.show_status_now(no_port_text);
}
