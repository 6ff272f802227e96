// How the window shows what the controller said and what the configuration
// routines report: status texts, value captions and parameter boxes.
#include "frm_main.h"

#include "message_box.h"
#include "par_box.h"
#include "registers.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace {

const QString text_link_ok = QStringLiteral("Связь с контроллером RZT-604Д установлена");
const QString text_crc_mismatch = QStringLiteral("Ошибка обмена: Несовпадение КС");
const QString text_no_answer = QStringLiteral("Ошибка обмена: Нет ответа от контроллера RZT-604Д");

QString verdict_text(Verdict v)
{
    switch (v) {
    case Verdict::good:
        return text_link_ok;
    case Verdict::crc_mismatch:
        return text_crc_mismatch;
    case Verdict::no_answer:
        break;
    }
    return text_no_answer;
}

// Major, then "." and the minor, each as a shown number with its trailing
// space: 2 and 5 read "2 .05 ", 2 and 12 "2 .12 ".
QString version_caption(Version v)
{
    const QString joint = v.minor > 9 ? QStringLiteral(".") : QStringLiteral(".0");
    return format_scaled(v.major, 1, 0, QString()) + joint +
           format_scaled(v.minor, 1, 0, QString());
}

} // namespace

void FrmMain::show_exchange(const Exchange &e)
{
    // With no port open nothing was asked, so nothing is blamed on the line.
    if (!e.port_open) {
        set_status(m_session.closed_text());
        return;
    }
    set_status(verdict_text(e.verdict));
    if (e.exception_code >= 0)
        set_status(status() + QStringLiteral(" Нарушение протокола, код: ") +
                   QString::number(e.exception_code));
}

void FrmMain::show_measurement(const Measurement &m)
{
    if (m.complete())
        m_last_measurement = m;
    if (m.has(201))
        m_values.at(201)->setText(version_caption(m.protocol));
    if (m.has(202))
        m_values.at(202)->setText(version_caption(m.software));
    for (const RegisterField &f : measured_fields) {
        if (m.has(f.reg))
            m_values.at(f.reg)->setText(
                format_scaled(m.registers[size_t(f.reg - measurement_first_register)], f.factor,
                              f.digits, QString()));
    }
}

void FrmMain::show_parameter(const ParConfirmation &c)
{
    show_value(m_boxes[size_t(c.index)], c.raw, 3, par_scale(m_master.table(), c.index), QString());
    m_confirmed[size_t(c.index)] = c.raw;
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
