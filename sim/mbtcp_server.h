#pragma once

#include "rtu_slave.h"
#include "server.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

namespace sim {

// The controllers of an RtuSlave over Modbus TCP, each at its address as the
// unit id, for any number of clients at once. A request is an MBAP frame:
// transaction id (2), protocol id (2, always 0), length (2, counts the unit id
// and the PDU), unit id (1), PDU; the reply carries the request's transaction
// and unit id. With gateway exceptions a unit that gives no answer gets
// exception 0x0B and a unit id outside 1..247 exception 0x0A, as from a
// gateway in front of a serial line; without them both get silence.
class MbtcpServer : public QObject {
public:
    MbtcpServer(RtuSlave &slave, const Pacing &pacing, bool gateway_exceptions, bool verbose,
                QObject *parent = nullptr);

    bool listen(const QHostAddress &host, quint16 port, QString *error);
    quint16 port() const { return m_server.serverPort(); }

private:
    void accept();
    void take_requests(QTcpSocket *client, QByteArray &buffer);
    void answer(QTcpSocket *client, const QByteArray &request);
    QByteArray reply_pdu(quint8 unit, const QByteArray &pdu);
    void send(QTcpSocket *client, const Reply &reply);
    void write(QTcpSocket *client, const QByteArray &bytes);
    void log(const QString &text) const { log_line(m_verbose, text); }

    RtuSlave &m_slave;
    Pacing m_pacing;
    bool m_gateway_exceptions;
    bool m_verbose;
    QTcpServer m_server;
};

} // namespace sim
