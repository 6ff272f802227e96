#include "controller_model.h"

namespace {

bool equal(const std::pair<Version, Version> &a, const std::pair<Version, Version> &b)
{
    return a.first.major == b.first.major && a.first.minor == b.first.minor &&
           a.second.major == b.second.major && a.second.minor == b.second.minor;
}

} // namespace

ControllerModel::ControllerModel(int address, QObject *parent) : QObject(parent), m_address(address)
{
    par_table_init(m_table);
}

ParKnown ControllerModel::held_all() const
{
    ParKnown out{};
    for (int i = 0; i < par_count; ++i)
        out[size_t(i)] = m_pars[size_t(i)].held;
    return out;
}

bool ControllerModel::all_held() const
{
    for (const ParState &p : m_pars) {
        if (!p.held)
            return false;
    }
    return true;
}

std::optional<std::pair<Version, Version>> ControllerModel::versions() const
{
    return m_versions;
}

bool ControllerModel::reading(int i) const
{
    for (auto kind : {OperationKind::read_all, OperationKind::compare}) {
        const auto &op = m_ops[size_t(kind)];
        if (op && op->waiting.test(size_t(i)))
            return true;
    }
    return false;
}

int ControllerModel::awaiting() const
{
    int n = 0;
    for (const ParState &p : m_pars)
        n += p.outcome == WriteOutcome::awaiting ? 1 : 0;
    return n;
}

int ControllerModel::held_back() const
{
    int n = 0;
    for (const ParState &p : m_pars)
        n += p.outcome == WriteOutcome::awaiting && p.held_back ? 1 : 0;
    return n;
}

void ControllerModel::apply(const Reply &reply)
{
    if (reply.exception_code >= 0) {
        refuse(reply, reply.time_ms);
        return;
    }
    if (reply.measurement && reply.measurement->complete()) {
        m_measurement = reply.measurement;
        m_versions = std::pair{reply.measurement->protocol, reply.measurement->software};
        emit measured(*m_measurement);
    }
    const Purpose why = purpose_of(reply.asked);
    for (const ParConfirmation &c : reply.parameters) {
        ParState &p = m_pars[size_t(c.index)];
        if (why == Purpose::write) {
            // An echo says what the controller took, not what its memory
            // holds: the read-back that follows says that.
            if (p.outcome == WriteOutcome::awaiting && p.write_id == reply.asked.id) {
                p.echoed = true;
                emit parameter_changed(c.index);
            }
            continue;
        }
        confirm(c, reply.asked, reply.time_ms);
    }
    check_recognition();
}

void ControllerModel::confirm(const ParConfirmation &c, const RequestRecord &asked, qint64 time_ms)
{
    const int i = c.index;
    ParState &p = m_pars[size_t(i)];
    const Purpose why = purpose_of(asked);
    p.held = c.raw;
    p.held_ms = time_ms;
    p.held_by = asked.id;
    if (why == Purpose::read_back && p.outcome == WriteOutcome::awaiting &&
        p.write_id == asked.id) {
        end_write(i, c.raw == p.written ? WriteOutcome::taken : WriteOutcome::not_taken, time_ms);
    } else if (p.outcome != WriteOutcome::awaiting) {
        // A read of the memory says all there is to say now.
        p.outcome = WriteOutcome::none;
        p.exception_code = -1;
        p.why.clear();
    }
    auto &compare = m_ops[size_t(OperationKind::compare)];
    if (why == Purpose::compare && compare && compare->id == asked.id) {
        const int32_t in_file = compare->file[size_t(i)];
        p.file_value = in_file != c.raw ? std::optional(in_file) : std::nullopt;
        settle(compare, i, in_file != c.raw ? &OperationEnd::differ : &OperationEnd::done);
    } else if (why != Purpose::compare) {
        p.file_value.reset();
    }
    auto &read_all = m_ops[size_t(OperationKind::read_all)];
    if (why == Purpose::read && read_all && read_all->id == asked.id)
        settle(read_all, i, &OperationEnd::done);
    emit parameter_changed(i);
}

void ControllerModel::refuse(const Reply &reply, qint64 now)
{
    const Purpose why = purpose_of(reply.asked);
    const QList<int> asked = par_indices(m_table, reply.asked.start, reply.asked.count);
    for (int i : asked) {
        ParState &p = m_pars[size_t(i)];
        if ((why == Purpose::write || why == Purpose::read_back) &&
            p.outcome == WriteOutcome::awaiting && p.write_id == reply.asked.id) {
            p.exception_code = reply.exception_code;
            end_write(i, WriteOutcome::refused, now);
            emit parameter_changed(i);
        }
        for (auto kind : {OperationKind::read_all, OperationKind::compare}) {
            auto &op = m_ops[size_t(kind)];
            if (op && op->id == reply.asked.id && why != Purpose::read_back) {
                op->end.exception_code = reply.exception_code;
                settle(op, i, &OperationEnd::refused);
            }
        }
    }
}

void ControllerModel::end_write(int i, WriteOutcome outcome, qint64 now)
{
    ParState &p = m_pars[size_t(i)];
    p.outcome = outcome;
    p.held_back = false;
    note(i, now);
    auto &op = m_ops[size_t(OperationKind::write_all)];
    if (!op || op->id != p.write_id)
        return;
    op->end.exception_code = std::max(op->end.exception_code, p.exception_code);
    switch (outcome) {
    case WriteOutcome::taken:
        settle(op, i, &OperationEnd::done);
        break;
    case WriteOutcome::not_taken:
        settle(op, i, &OperationEnd::not_taken);
        break;
    case WriteOutcome::refused:
        settle(op, i, &OperationEnd::refused);
        break;
    case WriteOutcome::cancelled:
        op->end.why = p.why;
        settle(op, i, &OperationEnd::cancelled);
        break;
    case WriteOutcome::no_answer:
        settle(op, i, &OperationEnd::no_answer);
        break;
    case WriteOutcome::none:
    case WriteOutcome::awaiting:
        break;
    }
}

void ControllerModel::note(int i, qint64 now)
{
    const ParState &p = m_pars[size_t(i)];
    WriteNote n;
    n.id = p.write_id;
    n.address = m_address;
    n.index = i;
    n.before = m_before[size_t(i)];
    n.written = p.written;
    n.outcome = p.outcome;
    if (p.outcome == WriteOutcome::taken || p.outcome == WriteOutcome::not_taken)
        n.kept = p.held;
    n.exception_code = p.outcome == WriteOutcome::refused ? p.exception_code : -1;
    n.why = p.why;
    n.time_ms = now;
    emit write_noted(n);
}

void ControllerModel::settle(std::optional<Operation> &op, int i, QList<int> OperationEnd::*list)
{
    if (!op || !op->waiting.test(size_t(i)))
        return;
    op->waiting.reset(size_t(i));
    (op->end.*list).append(i);
    finish_if_done(op);
}

void ControllerModel::finish_if_done(std::optional<Operation> &op)
{
    if (!op || op->waiting.any())
        return;
    const OperationEnd end = op->end;
    op.reset();
    emit operation_ended(end);
}

void ControllerModel::wrote(uint32_t id, const ParKnown &values, qint64 now)
{
    for (int i = 0; i < par_count; ++i) {
        if (!values[size_t(i)])
            continue;
        ParState &p = m_pars[size_t(i)];
        // A write still awaiting its read-back is overtaken by this one.
        if (p.outcome == WriteOutcome::awaiting) {
            p.why = QStringLiteral("записано снова");
            end_write(i, WriteOutcome::cancelled, now);
        }
        m_before[size_t(i)] = p.held;
        p.outcome = WriteOutcome::awaiting;
        p.written = *values[size_t(i)];
        p.write_id = id;
        p.written_ms = now;
        p.echoed = false;
        p.held_back = false;
        p.exception_code = -1;
        p.why.clear();
        p.file_value.reset();
        note(i, now);
        emit parameter_changed(i);
    }
}

void ControllerModel::begin(OperationKind kind, uint32_t id, std::bitset<par_count> parameters,
                            qint64 now, const ParRaws &file)
{
    auto &op = m_ops[size_t(kind)];
    op = Operation{kind, id, parameters, parameters, now, file, {}};
    op->end.kind = kind;
    op->end.id = id;
    for (int i = 0; i < par_count; ++i) {
        if (parameters.test(size_t(i)))
            emit parameter_changed(i);
    }
    finish_if_done(op);
}

void ControllerModel::cancel_writes(const QString &why, qint64 now)
{
    for (int i = 0; i < par_count; ++i) {
        ParState &p = m_pars[size_t(i)];
        if (p.outcome != WriteOutcome::awaiting)
            continue;
        p.why = why;
        end_write(i, WriteOutcome::cancelled, now);
        emit parameter_changed(i);
    }
    m_recognising = false;
}

void ControllerModel::begin_recognition(qint64 now)
{
    m_known = held_all();
    m_known_versions = m_versions;
    for (ParState &p : m_pars) {
        if (p.outcome == WriteOutcome::awaiting)
            p.held_back = true;
    }
    m_recognising = held_back() > 0;
    m_recognition_since = now;
}

void ControllerModel::release_writes(qint64 now)
{
    for (int i = 0; i < par_count; ++i) {
        ParState &p = m_pars[size_t(i)];
        if (p.outcome != WriteOutcome::awaiting || !p.held_back)
            continue;
        p.held_back = false;
        p.written_ms = now;
        emit parameter_changed(i);
    }
    m_recognising = false;
}

void ControllerModel::check_recognition()
{
    if (!m_recognising || !m_versions || !all_held())
        return;
    m_recognising = false;
    QString why;
    if (!m_known_versions) {
        why = QStringLiteral("версии контроллера до потери порта не были известны");
    } else if (!equal(*m_known_versions, *m_versions)) {
        why = QStringLiteral("версии контроллера на порту другие");
    } else {
        for (int i = 0; i < par_count; ++i) {
            const ParState &p = m_pars[size_t(i)];
            // What is being written is allowed to differ: the write may have
            // gone out before the loss.
            if (p.outcome == WriteOutcome::awaiting)
                continue;
            if (m_known[size_t(i)] && m_known[size_t(i)] != p.held) {
                why = QStringLiteral("параметр «%1» не тот, что был").arg(par_caption(i));
                break;
            }
        }
    }
    emit recognised(why.isEmpty(), why);
}

void ControllerModel::forget(qint64 now)
{
    m_measurement.reset();
    m_versions.reset();
    for (int i = 0; i < par_count; ++i) {
        ParState &p = m_pars[size_t(i)];
        p.held.reset();
        p.held_ms = 0;
        p.held_by = 0;
        p.file_value.reset();
        if (p.outcome != WriteOutcome::awaiting) {
            p.outcome = WriteOutcome::none;
            p.exception_code = -1;
            p.why.clear();
        }
    }
    // What a read or a comparison had read came from the controller before:
    // it starts again, on the reads the line queues anew.
    for (auto kind : {OperationKind::read_all, OperationKind::compare}) {
        auto &op = m_ops[size_t(kind)];
        if (!op)
            continue;
        op->waiting = op->all;
        op->since = now;
        op->end = OperationEnd{};
        op->end.kind = kind;
        op->end.id = op->id;
    }
    emit forgotten();
    for (int i = 0; i < par_count; ++i)
        emit parameter_changed(i);
}

void ControllerModel::check_time(qint64 now)
{
    for (int i = 0; i < par_count; ++i) {
        ParState &p = m_pars[size_t(i)];
        if (p.outcome == WriteOutcome::awaiting && !p.held_back &&
            now - p.written_ms >= answer_ms) {
            end_write(i, WriteOutcome::no_answer, now);
            emit parameter_changed(i);
        }
    }
    for (auto kind : {OperationKind::read_all, OperationKind::compare}) {
        auto &op = m_ops[size_t(kind)];
        if (!op || now - op->since < answer_ms)
            continue;
        for (int i = 0; i < par_count; ++i)
            settle(op, i, &OperationEnd::no_answer);
    }
    if (m_recognising && now - m_recognition_since >= answer_ms) {
        m_recognising = false;
        emit recognised(false, QStringLiteral("контроллер не ответил после восстановления порта"));
    }
}
