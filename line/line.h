#pragma once
// The line: one serial port with the controllers behind it. It owns the port
// session (with its reconnect), the master with its request ring and its
// 150 ms tick, and one model per controller it talks to, and it is the one
// door to all of them: the window, the port dialog, the search, the monitor,
// the trend and every command of rzt604-cli ask it (open, switch, probe,
// hold, read, write, compare) and listen to it and to the models. Nobody
// else opens, switches, ticks or reads the port.

#include "controller_model.h"
#include "journal.h"
#include "master.h"
#include "port_session.h"
#include "scan.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <map>
#include <memory>

// What the line talks to changed: what was known of the controller before
// may not hold for the one it talks to now.
enum class LineChange {
    port_switched,   // the operator chose another port
    address_changed, // another slave address
    port_returned,   // the port came back after it was lost
    port_appeared,   // the configured port, absent so far, could be opened
};

Q_DECLARE_METATYPE(LineChange)

struct LineDriver;

class Line : public QObject {
    Q_OBJECT

public:
    static constexpr int tick_ms = 150;
    // The selected slave address, for the operations below.
    static constexpr int selected_address = -1;

    Line(std::unique_ptr<SerialPort> port, QString config_path, QObject *parent = nullptr);
    ~Line() override;

    // The port, to look at: open or not, what a number stands for, why an
    // open failed.
    const SerialPort &port() const { return m_session.port(); }
    const QString &config_path() const { return m_session.config_path(); }
    // The configured port number (1 for COM1; 0 when none was chosen).
    uint8_t com_port() const { return m_session.com_port; }
    void set_com_port(uint8_t n) { m_session.com_port = n; }
    bool port_confirmed() const { return m_session.port_confirmed; }
    void set_port_confirmed(bool on) { m_session.port_confirmed = on; }
    // A device named outright (a path or tcp://HOST:PORT) instead of com_port.
    void use_device(const QString &device) { m_session.use_device(device); }
    QString port_name() const { return m_session.port_name(); }
    QString closed_text() const { return m_session.closed_text(); }
    bool lost() const { return m_session.lost(); }
    int reconnects() const { return m_session.reconnects(); }

    // The port's number for the next open, as start-up sets it.
    PortError set_port_number(int n) { return m_session.port().set_port_number(n); }
    PortError open_configured() { return m_session.open_configured(); }
    // The port dialog's work: another port for use, a probe, closing it, and
    // holding the port while it works (no loss, no reopening behind it).
    PortError switch_to(int n) { return m_session.switch_to(n); }
    bool probe(int n) { return m_session.probe(n); }
    void close_port() { m_session.close(); }
    void hold_port(bool held) { m_session.hold_port(held); }

    // How the line goes: the window's tick, one exchange each 150 ms; or
    // paced by the replies, the next request as soon as the reply in
    // flight is whole or its time ran out (the command line, the publisher).
    enum class Pace { tick, replies };
    // From start() on the line runs (with a first step at once when asked);
    // the reconnect waits for the configured port from then on too.
    void start(Pace pace = Pace::tick, bool step_now = false);
    void stop();
    // Paced by replies: how long one request waits for its reply, and how
    // often each polled controller is read (0: as often as the line allows).
    void set_reply_timeout(int ms) { m_reply_timeout_ms = ms; }
    void set_interval(int ms) { m_interval_ms = ms; }

    // The slave address of the window's controller. Another address is
    // another controller: writes still waiting for the previous one are
    // cancelled (writes_cancelled) and changed() is emitted.
    void set_address(int address);
    int address() const { return m_master.address(); }
    // The measurement block is asked whenever nothing else is, of these
    // addresses in turn (none given: the selected one).
    void set_polling(bool on, const std::vector<int> &addresses = {});
    const ParTable &table() const { return m_master.table(); }

    // The journal of setting changes every write goes through: its intent
    // is on disk before the write is queued, or the write is not made.
    Journal &journal() { return m_journal; }

    // What the controller at this address holds, as its replies have shown.
    ControllerModel &controller(int address);
    ControllerModel &selected() { return controller(address()); }

    // Operations on one controller (the selected one by default). They queue
    // requests and return at once; the model says how they went.
    bool read_all(int address = selected_address);
    WriteAllResult write_all(const ParTexts &texts, int address = selected_address);
    // Empty, or why nothing was written.
    QString write_all(const ParRaws &raws, int address = selected_address);
    Queued write_one(int index, const QString &text, int address = selected_address);
    // Reads all nine afresh and compares them with the file's.
    bool compare(const ParRaws &file, int address = selected_address);
    bool ask_measurement(int address = selected_address);
    // Writes waiting on the line, and those kept across a loss of the port.
    int pending_writes() const;

    // Finds the controllers on the line: the tick pauses while the search
    // owns the port and resumes afterwards; the ring is left as it was.
    QList<ScanHit> scan(const ScanOptions &options, const ScanProgress &progress = {});

signals:
    void exchanged(const Exchange &exchange);
    // After each exchange, once the models have taken what it said.
    void stepped();
    void changed(LineChange why);
    // Writes typed for the controller, dropped before they were confirmed:
    // the parameters they would have set at the selected address, and why.
    void writes_cancelled(const QList<int> &indices, const QString &why);
    void port_lost();
    void port_returned();
    // The journal could not take a write's intent (nothing was written) or
    // its outcome: why, in the operator's words.
    void journal_failed(const QString &why);
    void scan_started();
    void scan_finished();

private:
    friend struct LineDriver; // the suites' own tick

    void step();
    // Paced by replies.
    void paced_step();
    void port_ready();
    void schedule();
    void kick();
    void queue_due_poll();
    int resolve(int address) const
    {
        return address == selected_address ? this->address() : address;
    }
    RequestRecord request(Purpose purpose, int address);
    void replied(const Reply &reply);
    void port_opened(PortOpening how);
    // previous: the address selected before, for a change of address.
    void point_elsewhere(LineChange why, int previous);
    void queue_reads_again(ControllerModel &model);
    void recognised(int address, bool same, const QString &why);
    void cancel_writes(ControllerModel &model, const QString &why, int selected);
    void note_loss();
    // The intents of these writes, on disk; empty, or why not (and then
    // none of them is to be made).
    QString record_intents(ControllerModel &model, uint32_t id, const ParKnown &values);
    void record_outcome(const WriteNote &note);

    PortSession m_session;
    Master m_master;
    QTimer m_timer;
    std::map<int, std::unique_ptr<ControllerModel>> m_models;
    // Writes taken off the line when the port came back, by address, until
    // the controller there is recognised.
    std::map<int, QList<TakenRequest>> m_held_back;
    Journal m_journal;
    // The journal's id of each write of a parameter: (write id << 8) | index.
    QHash<quint64, QString> m_journal_ids;
    uint32_t m_next_id = 0;

    Pace m_pace = Pace::tick;
    bool m_polling = true;
    std::vector<int> m_poll_targets;
    // Paced by replies: when each polled address is next due, on m_clock.
    std::map<int, qint64> m_due_ns;
    int m_reply_timeout_ms = 150;
    int m_interval_ms = 1000;
    QTimer m_wake;      // a reply's time ran out, or a poll is due
    QTimer m_frame_end; // bytes came, then silence: the frame is whole
    QTimer m_ask;       // a request was queued on an idle line
    QTimer m_listen;    // for a port that cannot say when bytes come
    QElapsedTimer m_clock;
    qint64 m_last_rx_ns = -1;
    bool m_port_tells = false;
    bool m_stepping = false;
    bool m_scanning = false;
    bool m_loss_noted = false;
};
