// How the window shows what the controller said and what the configuration
// routines report: status texts, value captions and parameter boxes.
#include "frm_main.h"

#include "message_box.h"
#include "par_box.h"
#include "registers.h"

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>

#include <limits>

namespace {

const QString text_connected = QStringLiteral("Связь с контроллером RZT-604Д установлена");
const QString text_crc_mismatch = QStringLiteral("Ошибка обмена: Несовпадение КС");
const QString text_no_answer = QStringLiteral("Ошибка обмена: Нет ответа от контроллера RZT-604Д");
const QString text_malformed = QStringLiteral("Ошибка обмена: ответ не той длины");

QString verdict_text(Verdict v)
{
    switch (v) {
    case Verdict::good:
        return text_connected;
    case Verdict::crc_mismatch:
        return text_crc_mismatch;
    case Verdict::malformed:
        return text_malformed;
    case Verdict::no_answer:
    case Verdict::unmatched: // a frame that answers something else answers nothing here
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

QString FrmMain::exchange_status(const Exchange &e) const
{
    // With no port open nothing was asked, so nothing is blamed on the line.
    if (!e.port_open)
        return m_line.closed_text();
    QString text = verdict_text(e.verdict);
    if (e.exception_code >= 0)
        text += QStringLiteral(" Нарушение протокола, код: ") + QString::number(e.exception_code);
    if (e.noise > 0)
        text += QStringLiteral("; помехи на линии");
    return text;
}

void FrmMain::show_exchange(const Exchange &e)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QString text = now < m_notice_until_ms ? m_notice : exchange_status(e);
    if (const int writes = m_line.pending_writes(); writes > 0)
        text += QStringLiteral(" (ожидают записи: %1)").arg(writes);
    set_status(text);
    show_stale(!e.port_open || now - m_last_good_ms > stale_after_ms);
}

void FrmMain::notify(const QString &text, bool sticky)
{
    m_notice = text;
    m_notice_until_ms = sticky ? std::numeric_limits<qint64>::max()
                               : QDateTime::currentMSecsSinceEpoch() + notice_ms;
    set_status(text);
}

void FrmMain::show_stale(bool stale)
{
    if (stale == m_stale)
        return;
    m_stale = stale;
    const QString since = m_last_good_ms > 0
                              ? QStringLiteral("Нет свежих значений с %1")
                                    .arg(QDateTime::fromMSecsSinceEpoch(m_last_good_ms)
                                             .toString(QStringLiteral("HH:mm:ss")))
                              : QStringLiteral("Значения ещё не получены");
    for (auto &[reg, label] : m_values) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, stale ? QColor(0x80, 0x80, 0x80) : QColor(Qt::black));
        label->setPalette(p);
        label->setToolTip(stale ? since : QString());
    }
}

void FrmMain::show_measurement(const Measurement &m)
{
    m_last_good_ms = m.time_ms;
    show_stale(false);
    if (m.has(201))
        m_values.at(201)->setText(version_caption(m.protocol));
    if (m.has(202))
        m_values.at(202)->setText(version_caption(m.software));
    for (const MeasuredField &f : measured_fields) {
        if (m.has(f.reg))
            m_values.at(f.reg)->setText(field_text(m, f));
    }
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
