#pragma once
// The line: one serial port with the controllers behind it. It owns the port
// session (with its reconnect), the master and its 150 ms tick, and is the
// one way the window, the search, the monitor, the trend and every command
// of rzt604-cli reach the controller: they ask for requests and listen to
// what came back. Nothing outside it touches the request ring or the port.

#include "master.h"
#include "port_session.h"
#include "scan.h"

#include <QObject>
#include <QTimer>

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

class Line : public QObject {
    Q_OBJECT

public:
    static constexpr int tick_ms = 150;

    Line(std::unique_ptr<SerialPort> port, QString config_path, QObject *parent = nullptr);

    PortSession &session() { return m_session; }
    const PortSession &session() const { return m_session; }
    const SerialPort &port() const { return m_session.port(); }
    const ParTable &table() const { return m_master.table(); }
    const RequestRing &ring() const { return m_master.ring(); }
    QTimer *timer() { return &m_timer; }

    // The tick runs from start() on; the reconnect waits for the configured
    // port from then on too.
    void start();
    void stop();
    // One tick: judge, decode, send one frame.
    void exchange_step();

    // Slave address of the requests made for no address in particular.
    // Another address is another controller: writes still waiting for the
    // previous one are cancelled (writes_cancelled) and changed() is emitted.
    void set_address(int address);
    int address() const { return m_master.address(); }
    void set_polling(bool on, const std::vector<int> &addresses = {})
    {
        m_master.set_polling(on, addresses);
    }
    void set_read_back(bool on) { m_master.set_read_back(on); }

    void par_table_init() { m_master.par_table_init(); }
    bool par_readall(int target = any_address) { return m_master.par_readall(target); }
    WriteAllResult par_writeall(const ParTexts &texts, const ParKnown &confirmed)
    {
        return m_master.par_writeall(texts, confirmed);
    }
    bool par_writeall(const ParRaws &raws, int target = any_address)
    {
        return m_master.par_writeall(raws, target);
    }
    Queued par_write(int index, const QString &text) { return m_master.par_write(index, text); }
    bool ask_measurement(int target = any_address) { return m_master.ask_measurement(target); }
    int pending_writes() const { return m_master.pending_writes(); }

    // Finds the controllers on the line: the tick pauses while the search
    // owns the port and resumes afterwards; the ring is left as it was.
    QList<ScanHit> scan(const ScanOptions &options, const ScanProgress &progress = {});
    bool scanning() const { return m_scanning; }

signals:
    void exchanged(const Exchange &exchange);
    void measured(const Measurement &measurement);
    void parameter_confirmed(const ParConfirmation &confirmation);

    void changed(LineChange why);
    // Writes typed for the previous controller, dropped when the line was
    // pointed elsewhere: the parameters they would have set.
    void writes_cancelled(const QList<int> &indices);
    void port_lost();
    void port_returned();
    void scan_started();
    void scan_finished();

private:
    void port_opened(PortOpening how);
    void point_elsewhere(LineChange why);
    void note_loss();

    PortSession m_session;
    Master m_master;
    QTimer m_timer;
    bool m_scanning = false;
    bool m_loss_noted = false;
};
