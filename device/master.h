#pragma once
// The controller behind the serial line, as the line object drives it: the
// exchange cycle over a port, the parameter table, the requests the operator
// makes, and a stream of what came back.

#include "exchange.h"
#include "modbus.h"
#include "par_exchange.h"
#include "par_table.h"
#include "readings.h"

#include <QObject>

class SerialPort;

// What became of a request the operator made.
enum class Queued {
    yes,
    no_number, // the text holds no number: nothing is written
    ring_full, // the request ring is full: nothing was queued
};

class Master : public QObject {
    Q_OBJECT

public:
    explicit Master(SerialPort &port, QObject *parent = nullptr);

    // One tick: judge what came back, decode a good reply, send one frame.
    void exchange_step();

    void par_table_init();
    const ParTable &table() const { return m_table; }
    // Slave address of every frame built from now on for no address in
    // particular; -1 for none.
    void set_address(int address) { m_link.address = address; }
    int address() const { return m_link.address; }
    // The measurement block is asked whenever nothing else is queued, of
    // these addresses in turn (empty: the selected one); off: only what is
    // asked goes on the line.
    void set_polling(bool on, const std::vector<int> &addresses = {});
    const RequestRing &ring() const { return m_link.ring; }
    // After a write is echoed the same group is read back, so that what is
    // shown as the controller's comes from its memory, not from its echo.
    void set_read_back(bool on) { m_read_back = on; }

    bool par_readall(int target = any_address);
    WriteAllResult par_writeall(const ParTexts &texts, const ParKnown &confirmed);
    bool par_writeall(const ParRaws &raws, int target = any_address);
    Queued par_write(int index, const QString &text);
    bool ask_measurement(int target = any_address);

    // Writes still waiting in the ring, and the parameters they carry.
    int pending_writes() const;
    // Drops every pending write; returns the parameters they would have set.
    QList<int> cancel_writes();

signals:
    // Every tick, first: the verdict, the bytes both ways and their times.
    void exchanged(const Exchange &exchange);
    // Then what a good reply said.
    void measured(const Measurement &measurement);
    void parameter_confirmed(const ParConfirmation &confirmation);

private:
    bool is_write(int slot) const;
    void read_back(int slot);

    Modbus m_link;
    ParTable m_table;
    bool m_read_back = true;
};
