#pragma once
// What one controller on the line holds, as far as its replies have shown:
// each parameter's value and the reply that confirmed it, writes awaiting
// their read-back and what became of them, its versions and last
// measurement, and the operations under way with their end. It changes only
// on replies bound to the request they answer (apply), on the line's change
// of controller (forget) and on time running out (check_time); every view
// (the window, the command line, the publisher) draws from it and listens.

#include "decode.h"
#include "par_exchange.h"
#include "par_table.h"
#include "readings.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <array>
#include <bitset>
#include <optional>

enum class WriteOutcome {
    none,      // no write of this parameter since it was last read
    awaiting,  // queued or sent; its read-back has not come
    taken,     // read back as written
    not_taken, // read back, but the memory keeps another value
    refused,   // the controller answered the write or its read-back with an exception
    cancelled, // dropped before its read-back: why says why
    no_answer, // no read-back within the time allowed
};

struct ParState {
    std::optional<int32_t> held; // as read from the memory
    qint64 held_ms = 0;
    uint32_t held_by = 0; // the id of the request whose reply said so

    // The last write and what became of it.
    WriteOutcome outcome = WriteOutcome::none;
    int32_t written = 0;
    uint32_t write_id = 0;
    qint64 written_ms = 0;
    bool echoed = false;    // the controller echoed it
    bool held_back = false; // kept across a loss of the port, not on the line
    int exception_code = -1;
    QString why;

    // A comparison found the file holding this instead.
    std::optional<int32_t> file_value;
};

// One write of one parameter: when it starts (outcome awaiting) and when it
// ends. Everything a record of setting changes needs.
struct WriteNote {
    uint32_t id = 0;
    int address = -1;
    int index = 0;
    std::optional<int32_t> before; // what the controller held, as last confirmed
    int32_t written = 0;
    WriteOutcome outcome = WriteOutcome::awaiting;
    std::optional<int32_t> kept; // what a read-back found in the memory
    int exception_code = -1;
    QString why;
    qint64 time_ms = 0;
};

enum class OperationKind { read_all, write_all, compare };

struct OperationEnd {
    OperationKind kind = OperationKind::read_all;
    uint32_t id = 0;
    QList<int> done;      // read; written and taken; read and as in the file
    QList<int> not_taken; // written, but the memory keeps another value
    QList<int> differ;    // a comparison: the file holds another value
    QList<int> refused;   // answered with an exception
    QList<int> no_answer; // nothing within the time allowed
    QList<int> cancelled; // writes dropped before their read-back
    int exception_code = -1;
    QString why; // why writes were cancelled
};

Q_DECLARE_METATYPE(WriteNote)
Q_DECLARE_METATYPE(OperationEnd)

class ControllerModel : public QObject {
    Q_OBJECT

public:
    // How long a read-back, a read or a comparison may wait for its answer.
    static constexpr int answer_ms = 10000;

    explicit ControllerModel(int address, QObject *parent = nullptr);

    int address() const { return m_address; }
    const ParState &par(int i) const { return m_pars[size_t(i)]; }
    std::optional<int32_t> held(int i) const { return m_pars[size_t(i)].held; }
    ParKnown held_all() const;
    bool all_held() const;
    // The last measurement of this controller, complete; none since the
    // line started talking to it.
    const std::optional<Measurement> &measurement() const { return m_measurement; }
    // Versions from the last measurement that carried them.
    std::optional<std::pair<Version, Version>> versions() const;
    bool under_way(OperationKind kind) const { return m_ops[size_t(kind)].has_value(); }
    // A read or a comparison under way still waits for this parameter.
    bool reading(int i) const;
    // The id its requests carry; 0 when none is under way.
    uint32_t operation_id(OperationKind kind) const
    {
        return m_ops[size_t(kind)] ? m_ops[size_t(kind)]->id : 0;
    }
    // Writes whose read-back has not come (held back ones too).
    int awaiting() const;
    int held_back() const;

    // The line's side: what was asked and what came back.
    void apply(const Reply &reply);
    // Writes of these values were queued under this id.
    void wrote(uint32_t id, const ParKnown &values, qint64 now);
    void begin(OperationKind kind, uint32_t id, std::bitset<par_count> parameters, qint64 now,
               const ParRaws &file = {});
    // The writes awaiting their read-back will never have it.
    void cancel_writes(const QString &why, qint64 now);
    // The port went away and came back: what was known is kept aside to
    // recognise the controller by, the writes wait until it is recognised.
    void begin_recognition(qint64 now);
    bool recognising() const { return m_recognising; }
    // The writes held back go out again.
    void release_writes(qint64 now);
    // Another controller, or the same one after a loss: nothing known holds.
    void forget(qint64 now);
    // Nobody waits for the operations under way any more: they end unsaid.
    void drop_operations() { m_ops = {}; }
    void check_time(qint64 now);

signals:
    void parameter_changed(int index);
    void measured(const Measurement &m);
    void forgotten();
    void write_noted(const WriteNote &note);
    void operation_ended(const OperationEnd &end);
    // Once recognition has read enough: the same controller, or why not.
    void recognised(bool same, const QString &why);

private:
    struct Operation {
        OperationKind kind;
        uint32_t id = 0;
        std::bitset<par_count> all;
        std::bitset<par_count> waiting;
        qint64 since = 0;
        ParRaws file{};
        OperationEnd end;
    };

    void confirm(const ParConfirmation &c, const RequestRecord &asked, qint64 time_ms);
    void refuse(const Reply &reply, qint64 now);
    void end_write(int i, WriteOutcome outcome, qint64 now);
    void note(int i, qint64 now);
    void settle(std::optional<Operation> &op, int i, QList<int> OperationEnd::*list);
    void finish_if_done(std::optional<Operation> &op);
    void check_recognition();

    int m_address;
    ParTable m_table;
    std::array<ParState, par_count> m_pars{};
    std::array<std::optional<int32_t>, par_count> m_before{};
    std::optional<Measurement> m_measurement;
    std::optional<std::pair<Version, Version>> m_versions;
    std::array<std::optional<Operation>, 3> m_ops{};

    bool m_recognising = false;
    qint64 m_recognition_since = 0;
    std::optional<std::pair<Version, Version>> m_known_versions;
    ParKnown m_known{};
};
