// Following the controller: what a parameter reply proves, what a change
// of controller takes back, and what the operator is told about writes
// that did not happen.
#include "frm_main.h"

#include "par_box.h"
#include "trend_window.h"

#include <QLabel>
#include <QLineEdit>

namespace {

QString captions(const QList<int> &indices)
{
    QStringList names;
    for (int i : indices)
        names << QStringLiteral("«%1»").arg(par_caption(i));
    return names.join(QStringLiteral(", "));
}

} // namespace

void FrmMain::show_parameter(const ParConfirmation &c)
{
    const auto i = size_t(c.index);
    if (!c.read) {
        // An echo says what the controller took, not what its memory holds:
        // the box stays white until the read-back that follows.
        m_written[i] = c.raw;
        return;
    }
    show_value(m_boxes[i], c.index, c.raw);
    m_held[i] = c.raw;
    m_fresh.set(i);
    // A read that follows an echo is the read-back of that write.
    if (m_written[i]) {
        const bool taken = *m_written[i] == c.raw;
        if (!taken)
            show_not_taken(c.index, *m_written[i], c.raw);
        if (m_writeall_wait.test(i)) {
            m_writeall_wait.reset(i);
            m_writeall_not_taken.set(i, !taken);
            if (m_writeall_wait.none())
                finish_write_all();
        }
    }
    m_written[i].reset();
    // Not from inside the tick: the comparison ends in a message box.
    if (m_compare_file && m_fresh.all())
        QMetaObject::invokeMethod(this, &FrmMain::finish_compare, Qt::QueuedConnection);
}

void FrmMain::show_not_taken(int index, int32_t written, int32_t held)
{
    QLineEdit *box = m_boxes[size_t(index)];
    set_colour(box, colour_not_taken);
    box->setToolTip(
        QStringLiteral("записано %1, контроллер хранит %2")
            .arg(par_value_text(index, written).trimmed(), par_value_text(index, held).trimmed()));
    notify(QStringLiteral("Контроллер не принял значение «%1»: хранит %2")
               .arg(par_caption(index), par_value_text(index, held).trimmed()));
}

void FrmMain::controller_changed(LineChange why)
{
    Q_UNUSED(why);
    // Texts stay for the operator to write again; only the colour said
    // they were this controller's.
    for (QLineEdit *box : m_boxes) {
        if (colour_of(box) != colour_refused)
            mark_edited(box);
    }
    for (auto &[reg, label] : m_values)
        label->setText(QStringLiteral("-"));
    m_held = {};
    m_written = {};
    m_writeall_wait.reset();
    m_last_measurement.reset();
    m_trend->clear_thresholds();
    if (m_compare_file) {
        m_compare_file.reset();
        notify(QStringLiteral("Сравнение прервано: другой контроллер"));
    }
    if (!m_line.par_readall())
        notify(QStringLiteral("Очередь запросов заполнена: чтение не поставлено"));
}

void FrmMain::writes_cancelled(const QList<int> &indices)
{
    for (int i : indices)
        mark_refused(m_boxes[size_t(i)],
                     QStringLiteral("Запись отменена: выбран другой контроллер"));
    notify(QStringLiteral("Отменена запись параметров (%1): выбран другой контроллер")
               .arg(indices.size()));
}

void FrmMain::report_write_all(const WriteAllResult &result)
{
    QStringList said;
    for (int i : result.no_number)
        mark_refused(m_boxes[size_t(i)]);
    for (int i : result.left_out) {
        if (!result.no_number.contains(i))
            mark_refused(m_boxes[size_t(i)],
                         QStringLiteral("Не записано: в поле %1 той же группы нет числа, а "
                                        "значение контроллера для него ещё не прочитано")
                             .arg(captions(result.no_number)));
    }
    if (!result.no_number.isEmpty())
        said << QStringLiteral("не записаны %1 (нет числа)").arg(captions(result.no_number));
    QList<int> group_only;
    for (int i : result.left_out) {
        if (!result.no_number.contains(i))
            group_only << i;
    }
    if (!group_only.isEmpty())
        said << QStringLiteral("не записаны %1 (их группа)").arg(captions(group_only));
    for (int i : result.ring_full)
        mark_refused(m_boxes[size_t(i)], QStringLiteral("Очередь запросов заполнена: не записано"));
    if (!result.ring_full.isEmpty())
        said << QStringLiteral("очередь заполнена: %1").arg(captions(result.ring_full));
    notify(said.isEmpty() ? QStringLiteral("Запись всех параметров поставлена в очередь")
                          : QStringLiteral("Записать всё: ") + said.join(QStringLiteral("; ")));
    m_writeall_wait.set();
    for (const QList<int> &out : {result.left_out, result.ring_full}) {
        for (int i : out)
            m_writeall_wait.reset(size_t(i));
    }
    m_writeall_not_taken.reset();
    m_writeall_left_out = said.join(QStringLiteral("; "));
}

void FrmMain::finish_write_all()
{
    QList<int> not_taken;
    for (int i = 0; i < par_count; ++i) {
        if (m_writeall_not_taken.test(size_t(i)))
            not_taken << i;
    }
    QString text =
        not_taken.isEmpty()
            ? QStringLiteral("Записать всё: контроллер хранит записанные значения")
            : QStringLiteral("Записать всё: контроллер не принял ") + captions(not_taken);
    if (!m_writeall_left_out.isEmpty())
        text += QStringLiteral("; ") + m_writeall_left_out;
    notify(text);
}
