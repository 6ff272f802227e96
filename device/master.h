#pragma once
// The controller behind the serial line, as the rest of the program sees it:
// the exchange cycle over its port, its parameter table, the requests the
// operator makes, and a stream of what came back. The window, the traffic
// monitor, the trend and the command-line tool all listen to the same signals.

#include "exchange.h"
#include "modbus.h"
#include "par_exchange.h"
#include "par_table.h"
#include "readings.h"

#include <QObject>

class SerialPort;

class Master : public QObject {
    Q_OBJECT

public:
    explicit Master(SerialPort &port, QObject *parent = nullptr);

    // One tick: judge what came back, decode a good reply, send one frame.
    void exchange_step();

    void par_table_init();
    const ParTable &table() const { return m_table; }
    // Slave address of every frame built from now on; -1 for none.
    void set_address(int address) { m_link.address = address; }
    int address() const { return m_link.address; }
    Modbus &link() { return m_link; }
    SerialPort &port() { return *m_link.port; }

    void par_readall();
    // Indices whose text holds no number; their groups are not written.
    QList<int> par_writeall(const ParTexts &texts);
    void par_writeall(const ParRaws &raws);
    // False, with nothing queued, when the text holds no number.
    bool par_write(int index, const QString &text);

signals:
    // Every tick, first: the verdict, the bytes both ways and their times.
    void exchanged(const Exchange &exchange);
    // Then what a good reply said.
    void measured(const Measurement &measurement);
    void parameter_confirmed(const ParConfirmation &confirmation);

private:
    Modbus m_link;
    ParTable m_table;
};
