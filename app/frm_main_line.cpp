// Following the controller: the model of the one the line talks to, what a
// change of controller takes back, and what the operator is told about
// writes, reads and comparisons as they end.
#include "frm_main.h"

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

void FrmMain::bind_controller()
{
    ControllerModel *model = m_line.address() >= 0 ? &m_line.selected() : nullptr;
    m_par->bind(model);
    // Only the controller the window shows speaks to it.
    for (QObject *o : m_line.children()) {
        if (auto *other = qobject_cast<ControllerModel *>(o)) {
            disconnect(other, nullptr, this, nullptr);
            disconnect(other, nullptr, m_trend, nullptr);
        }
    }
    m_trend->clear_thresholds();
    for (auto &[reg, label] : m_values)
        label->setText(QStringLiteral("-"));
    m_last_good_ms = 0;
    show_stale(false);
    if (model == nullptr)
        return;
    connect(model, &ControllerModel::measured, this, &FrmMain::show_measurement);
    connect(model, &ControllerModel::write_noted, this, &FrmMain::write_noted);
    connect(model, &ControllerModel::operation_ended, this, &FrmMain::operation_ended);
    connect(model, &ControllerModel::measured, m_trend, &TrendWindow::add_measurement);
    connect(model, &ControllerModel::parameter_changed, this, [this, model](int i) {
        if (const auto raw = model->held(i))
            m_trend->par_confirmed({i, *raw, true, model->address()});
    });
    connect(model, &ControllerModel::forgotten, this, [this] {
        for (auto &[reg, label] : m_values)
            label->setText(QStringLiteral("-"));
        m_last_good_ms = 0;
        show_stale(false);
        m_trend->clear_thresholds();
    });
}

void FrmMain::controller_changed(LineChange why)
{
    if (why == LineChange::address_changed)
        bind_controller();
    // A read under way has been queued again on the controller now on the line.
    if (m_line.address() < 0 || m_line.selected().under_way(OperationKind::read_all))
        return;
    if (!m_line.read_all())
        notify(QStringLiteral("Очередь запросов заполнена: чтение не поставлено"));
}

void FrmMain::writes_cancelled(const QList<int> &indices, const QString &why)
{
    for (int i : indices)
        m_par->refuse(i, QStringLiteral("Запись отменена: ") + why);
    notify(QStringLiteral("Отменена запись параметров (%1): %2").arg(indices.size()).arg(why));
}

void FrmMain::write_noted(const WriteNote &note)
{
    // A write of its own (Enter); those of "Записать всё" are said at its end.
    if (m_line.selected().operation_id(OperationKind::write_all) == note.id)
        return;
    const QString name = par_caption(note.index);
    switch (note.outcome) {
    case WriteOutcome::not_taken:
        notify(QStringLiteral("Контроллер не принял значение «%1»: хранит %2")
                   .arg(name, par_value_text(note.index, note.kept.value_or(0)).trimmed()));
        break;
    case WriteOutcome::refused:
        notify(QStringLiteral("Контроллер отказал в записи «%1»: исключение, код %2")
                   .arg(name)
                   .arg(note.exception_code));
        break;
    case WriteOutcome::no_answer:
        notify(QStringLiteral("Нет ответа на запись «%1» за %2 с")
                   .arg(name)
                   .arg(ControllerModel::answer_ms / 1000));
        break;
    case WriteOutcome::none:
    case WriteOutcome::awaiting:
    case WriteOutcome::taken:
    case WriteOutcome::cancelled: // said by writes_cancelled
        break;
    }
}

void FrmMain::operation_ended(const OperationEnd &end)
{
    switch (end.kind) {
    case OperationKind::write_all:
        write_all_ended(end);
        return;
    case OperationKind::compare:
        // Not from inside the tick: the comparison ends in a message box.
        QMetaObject::invokeMethod(
            this, [this, end] { compare_ended(end); }, Qt::QueuedConnection);
        return;
    case OperationKind::read_all:
        break;
    }
    QStringList said;
    if (!end.no_answer.isEmpty())
        said << QStringLiteral("нет ответа: %1").arg(captions(end.no_answer));
    if (!end.refused.isEmpty())
        said << QStringLiteral("контроллер отказал (код %1): %2")
                    .arg(end.exception_code)
                    .arg(captions(end.refused));
    if (const QList<int> kept = m_par->edited_boxes(); !kept.isEmpty())
        said << QStringLiteral("изменённые поля не заменены (Esc — значение контроллера): %1")
                    .arg(captions(kept));
    if (!said.isEmpty())
        notify(QStringLiteral("Чтение: ") + said.join(QStringLiteral("; ")));
}

void FrmMain::report_write_all(const WriteAllResult &result)
{
    if (!result.not_recorded.isEmpty()) {
        for (int i = 0; i < par_count; ++i)
            m_par->refuse(i, QStringLiteral("Не записано: журнал изменений не записывается"));
        notify(QStringLiteral("Записать всё: ") + result.not_recorded);
        return;
    }
    QStringList said;
    for (int i : result.no_number)
        m_par->refuse(i, QStringLiteral("В поле нет числа: значение не записано"));
    QList<int> group_only;
    for (int i : result.left_out) {
        if (!result.no_number.contains(i))
            group_only << i;
    }
    for (int i : group_only)
        m_par->refuse(i, QStringLiteral("Не записано: в поле %1 той же группы нет числа, а "
                                        "значение контроллера для него ещё не прочитано")
                             .arg(captions(result.no_number)));
    for (int i : result.ring_full)
        m_par->refuse(i, QStringLiteral("Очередь запросов заполнена: не записано"));
    for (int i = 0; i < par_count; ++i) {
        if (result.queued[size_t(i)] && !result.no_number.contains(i))
            m_par->committed(i);
    }
    if (!result.no_number.isEmpty())
        said << QStringLiteral("не записаны %1 (нет числа)").arg(captions(result.no_number));
    if (!group_only.isEmpty())
        said << QStringLiteral("не записаны %1 (их группа)").arg(captions(group_only));
    if (!result.ring_full.isEmpty())
        said << QStringLiteral("очередь заполнена: %1").arg(captions(result.ring_full));
    m_writeall_left_out = said.join(QStringLiteral("; "));
    notify(said.isEmpty() ? QStringLiteral("Запись всех параметров поставлена в очередь")
                          : QStringLiteral("Записать всё: ") + m_writeall_left_out,
           true);
}

void FrmMain::write_all_ended(const OperationEnd &end)
{
    QStringList said;
    if (!end.not_taken.isEmpty())
        said << QStringLiteral("контроллер не принял %1").arg(captions(end.not_taken));
    if (!end.refused.isEmpty())
        said << QStringLiteral("контроллер отказал (код %1): %2")
                    .arg(end.exception_code)
                    .arg(captions(end.refused));
    if (!end.no_answer.isEmpty())
        said << QStringLiteral("нет ответа: %1").arg(captions(end.no_answer));
    if (!end.cancelled.isEmpty())
        said << QStringLiteral("отменено (%1): %2").arg(end.why, captions(end.cancelled));
    // What was taken is counted when not all of it was.
    const qsizetype sent = end.done.size() + end.not_taken.size() + end.refused.size() +
                           end.no_answer.size() + end.cancelled.size();
    if (said.isEmpty())
        said << QStringLiteral("контроллер хранит записанные значения");
    else
        said.prepend(QStringLiteral("принято %1 из %2").arg(end.done.size()).arg(sent));
    if (!m_writeall_left_out.isEmpty())
        said << m_writeall_left_out;
    notify(QStringLiteral("Записать всё: ") + said.join(QStringLiteral("; ")));
}
