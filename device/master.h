#pragma once
// The controller behind the serial line, as the line object drives it: the
// exchange cycle over a port, the parameter table, the requests made of it,
// each with the record of what it asks, and every good reply read for the
// request it answers.

#include "decode.h"
#include "exchange.h"
#include "modbus.h"
#include "par_exchange.h"
#include "par_table.h"
#include "readings.h"

#include <QObject>

#include <functional>
#include <vector>

class SerialPort;

// What became of a request the operator made.
enum class Queued {
    yes,
    no_number,    // the text holds no number: nothing is written
    ring_full,    // the request ring is full: nothing was queued
    not_recorded, // the journal could not take its intent: nothing was queued
};

// A request taken out of the ring as it was, to be put back later.
struct TakenRequest {
    std::vector<uint8_t> pdu; // function code, then the body
    RequestRecord record;
};

class Master : public QObject {
    Q_OBJECT

public:
    explicit Master(SerialPort &port, QObject *parent = nullptr);

    // One tick: judge what came back, send one frame, then say what a good
    // reply said for the request it answers.
    void exchange_step();

    void par_table_init();
    const ParTable &table() const { return m_table; }
    // Slave address of every frame built from now on for no address in
    // particular; -1 for none.
    void set_address(int address) { m_modbus.address = address; }
    int address() const { return m_modbus.address; }
    // The measurement block is asked whenever nothing else is queued, of
    // these addresses in turn (empty: the selected one); off: only what is
    // asked goes on the line.
    void set_polling(bool on, const std::vector<int> &addresses = {});
    const RequestRing &ring() const { return m_modbus.ring; }

    // What the line talks to; requests are made for the current one.
    uint32_t generation() const { return m_modbus.generation; }
    void next_generation() { ::next_generation(m_modbus); }

    bool par_readall(const RequestRecord &base);
    WriteAllResult par_writeall(const ParTexts &texts, const ParKnown &confirmed,
                                const RequestRecord &base);
    bool par_writeall(const ParRaws &raws, const RequestRecord &base);
    // Parameter index from the operator's text; the raw value written goes
    // to raw.
    Queued par_write(int index, const QString &text, const RequestRecord &base,
                     int32_t *raw = nullptr);
    bool par_write_raw(int index, int32_t raw, const RequestRecord &base);
    bool ask_measurement(const RequestRecord &base);

    // Writes still waiting in the ring.
    int pending_writes() const;
    bool idle() const { return m_modbus.ring.empty(); }
    // A frame is out, awaiting its reply; what a whole reply to it would
    // take, were it no exception.
    bool in_flight() const { return !m_modbus.in_flight.isEmpty(); }
    int reply_expected() const { return ::reply_expected(m_modbus); }
    // Takes out every pending request whose record matches, in order.
    QList<TakenRequest> take_requests(const std::function<bool(const RequestRecord &)> &which);
    // Queues a taken request again, for the generation given.
    bool put_back(const TakenRequest &request, uint32_t generation);

signals:
    // Every tick, first: the verdict, the bytes both ways and their times.
    void exchanged(const Exchange &exchange);
    // Then, for a good reply, what it said.
    void replied(const Reply &reply);

private:
    void read_back(const RequestRecord &write);

    Modbus m_modbus;
    ParTable m_table;
};
