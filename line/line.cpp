#include "line.h"

#include <QDateTime>

#include <utility>

namespace {

qint64 now_ms()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString change_reason(LineChange why)
{
    switch (why) {
    case LineChange::port_switched:
        return QStringLiteral("выбран другой порт");
    case LineChange::address_changed:
        return QStringLiteral("выбран другой контроллер");
    case LineChange::port_returned:
        return QStringLiteral("порт восстановлен");
    case LineChange::port_appeared:
        return QStringLiteral("порт появился");
    }
    return {};
}

bool is_write(const RequestRecord &r)
{
    return purpose_of(r) == Purpose::write || purpose_of(r) == Purpose::read_back;
}

QList<int> awaiting(const ControllerModel &model)
{
    QList<int> out;
    for (int i = 0; i < par_count; ++i) {
        if (model.par(i).outcome == WriteOutcome::awaiting)
            out << i;
    }
    return out;
}

} // namespace

Line::Line(std::unique_ptr<SerialPort> port, QString config_path, QObject *parent)
    : QObject(parent), m_session(std::move(port), config_path), m_master(m_session.port()),
      m_journal(journal_path_for(config_path))
{
    m_master.par_table_init();
    // A member, but a child too, so that the window finds it by name.
    m_timer.setParent(this);
    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setInterval(tick_ms);
    // Coarse timers may fire up to 5 % early or late; the controller is given
    // a full tick for its answer.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Line::step);
    connect(&m_master, &Master::exchanged, this, &Line::exchanged);
    connect(&m_master, &Master::replied, this, &Line::replied);
    connect(&m_session, &PortSession::opened, this, &Line::port_opened);
    connect(&m_session, &PortSession::reconnected, this, &Line::port_returned);
}

Line::~Line() = default;

void Line::step()
{
    m_master.exchange_step();
    const qint64 now = now_ms();
    for (auto &[address, model] : m_models)
        model->check_time(now);
    note_loss();
    emit stepped();
}

void Line::note_loss()
{
    if (!m_session.lost()) {
        m_loss_noted = false;
        return;
    }
    if (m_loss_noted)
        return;
    m_loss_noted = true;
    emit port_lost();
}

ControllerModel &Line::controller(int address)
{
    auto &slot = m_models[address];
    if (!slot) {
        slot = std::make_unique<ControllerModel>(address, this);
        connect(slot.get(), &ControllerModel::recognised, this,
                [this, address](bool same, const QString &why) { recognised(address, same, why); });
        connect(slot.get(), &ControllerModel::write_noted, this, &Line::record_outcome);
    }
    return *slot;
}

RequestRecord Line::request(Purpose purpose, int address)
{
    return request_for(purpose, int16_t(address), m_master.generation(), ++m_next_id);
}

void Line::replied(const Reply &reply)
{
    controller(reply.address).apply(reply);
}

void Line::set_address(int address)
{
    const int before = m_master.address();
    m_master.set_address(address);
    if (address >= 0)
        controller(address);
    if (before >= 0 && address != before)
        point_elsewhere(LineChange::address_changed, before);
}

void Line::port_opened(PortOpening how)
{
    m_loss_noted = false;
    switch (how) {
    case PortOpening::first:
    case PortOpening::same:
        return;
    case PortOpening::switched:
        point_elsewhere(LineChange::port_switched, address());
        return;
    case PortOpening::returned:
        point_elsewhere(LineChange::port_returned, address());
        return;
    case PortOpening::late:
        point_elsewhere(LineChange::port_appeared, address());
        return;
    }
}

// Every request queued so far was made for the controller before. Writes
// are cancelled, or, when the same port came back after a loss, kept until
// the controller on it is recognised; reads still wanted are queued again.
void Line::point_elsewhere(LineChange why, int previous)
{
    const qint64 now = now_ms();
    const QList<TakenRequest> writes = m_master.take_requests(is_write);
    m_master.next_generation();
    m_master.take_requests([](const RequestRecord &) { return true; });
    const bool keep_writes = why == LineChange::port_returned;
    if (keep_writes) {
        for (const TakenRequest &w : writes)
            m_held_back[w.record.target].append(w);
    } else {
        m_held_back.clear();
    }
    for (auto &[address, model] : m_models) {
        if (keep_writes)
            model->begin_recognition(now);
        else
            cancel_writes(*model, change_reason(why), previous);
        // The window has left that controller: what it asked of it is moot.
        if (why == LineChange::address_changed && address == previous)
            model->drop_operations();
        model->forget(now);
        queue_reads_again(*model);
    }
    m_due_ns.clear();
    kick();
    emit changed(why);
}

void Line::cancel_writes(ControllerModel &model, const QString &why, int selected)
{
    const QList<int> indices = awaiting(model);
    model.cancel_writes(why, now_ms());
    m_held_back.erase(model.address());
    if (!indices.isEmpty() && model.address() == selected)
        emit writes_cancelled(indices, why);
}

// Reads and comparisons under way start again on this controller; one that
// is to be recognised is asked for its versions and parameters.
void Line::queue_reads_again(ControllerModel &model)
{
    const int a = model.address();
    const uint32_t generation = m_master.generation();
    if (const uint32_t id = model.operation_id(OperationKind::read_all))
        m_master.par_readall(request_for(Purpose::read, int16_t(a), generation, id));
    if (const uint32_t id = model.operation_id(OperationKind::compare))
        m_master.par_readall(request_for(Purpose::compare, int16_t(a), generation, id));
    if (model.recognising()) {
        ask_measurement(a);
        if (!model.under_way(OperationKind::read_all))
            read_all(a);
    }
}

void Line::recognised(int address, bool same, const QString &why)
{
    ControllerModel &model = controller(address);
    if (!same) {
        cancel_writes(model, QStringLiteral("контроллер не опознан: ") + why, this->address());
        return;
    }
    const QList<TakenRequest> writes = m_held_back[address];
    m_held_back.erase(address);
    for (const TakenRequest &w : writes)
        m_master.put_back(w, m_master.generation());
    model.release_writes(now_ms());
    kick();
}

bool Line::read_all(int address)
{
    const int a = resolve(address);
    if (a < 0)
        return false;
    ControllerModel &model = controller(a);
    const RequestRecord base = request(Purpose::read, a);
    if (!m_master.par_readall(base))
        return false;
    model.begin(OperationKind::read_all, base.id, std::bitset<par_count>().set(), now_ms());
    kick();
    return true;
}

WriteAllResult Line::write_all(const ParTexts &texts, int address)
{
    const int a = resolve(address);
    WriteAllResult result;
    if (a < 0) {
        for (int i = 0; i < par_count; ++i)
            result.left_out << i;
        return result;
    }
    ControllerModel &model = controller(a);
    const RequestRecord base = request(Purpose::write, a);
    const WriteAllResult plan = par_writeall_plan(table(), texts, model.held_all());
    if (const QString why = record_intents(model, base.id, plan.queued); !why.isEmpty()) {
        result = plan;
        result.queued = {};
        result.not_recorded = why;
        return result;
    }
    result = m_master.par_writeall(texts, model.held_all(), base);
    std::bitset<par_count> queued;
    for (int i = 0; i < par_count; ++i)
        queued.set(size_t(i), result.queued[size_t(i)].has_value());
    const qint64 now = now_ms();
    model.wrote(base.id, result.queued, now);
    model.begin(OperationKind::write_all, base.id, queued, now);
    kick();
    return result;
}

QString Line::write_all(const ParRaws &raws, int address)
{
    const int a = resolve(address);
    if (a < 0)
        return QStringLiteral("не выбран адрес");
    ControllerModel &model = controller(a);
    const RequestRecord base = request(Purpose::write, a);
    ParKnown values{};
    for (int i = 0; i < par_count; ++i)
        values[size_t(i)] = raws[size_t(i)];
    if (const QString why = record_intents(model, base.id, values); !why.isEmpty())
        return why;
    if (!m_master.par_writeall(raws, base))
        return QStringLiteral("очередь запросов заполнена");
    const qint64 now = now_ms();
    model.wrote(base.id, values, now);
    model.begin(OperationKind::write_all, base.id, std::bitset<par_count>().set(), now);
    kick();
    return {};
}

Queued Line::write_one(int index, const QString &text, int address)
{
    const int a = resolve(address);
    if (a < 0)
        return Queued::ring_full;
    const auto raw = par_text_raw(table(), index, text);
    if (!raw)
        return Queued::no_number;
    ControllerModel &model = controller(a);
    const RequestRecord base = request(Purpose::write, a);
    ParKnown values{};
    values[size_t(index)] = raw;
    if (!record_intents(model, base.id, values).isEmpty())
        return Queued::not_recorded;
    if (!m_master.par_write_raw(index, *raw, base))
        return Queued::ring_full;
    model.wrote(base.id, values, now_ms());
    kick();
    return Queued::yes;
}

bool Line::compare(const ParRaws &file, int address)
{
    const int a = resolve(address);
    if (a < 0)
        return false;
    const RequestRecord base = request(Purpose::compare, a);
    if (!m_master.par_readall(base))
        return false;
    controller(a).begin(OperationKind::compare, base.id, std::bitset<par_count>().set(), now_ms(),
                        file);
    kick();
    return true;
}

bool Line::ask_measurement(int address)
{
    const int a = resolve(address);
    const bool queued = a >= 0 && m_master.ask_measurement(request(Purpose::poll, a));
    kick();
    return queued;
}

int Line::pending_writes() const
{
    int n = m_master.pending_writes();
    for (const auto &[address, writes] : m_held_back) {
        for (const TakenRequest &w : writes)
            n += purpose_of(w.record) == Purpose::write ? 1 : 0;
    }
    return n;
}

QList<ScanHit> Line::scan(const ScanOptions &options, const ScanProgress &progress)
{
    if (m_scanning || !m_session.port().is_open())
        return {};
    const bool ticking = m_timer.isActive();
    m_timer.stop();
    m_scanning = true;
    emit scan_started();
    const QList<ScanHit> hits = scan_addresses(m_session.port(), options, progress);
    m_scanning = false;
    emit scan_finished();
    if (ticking)
        m_timer.start();
    return hits;
}
