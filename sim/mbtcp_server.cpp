#include "mbtcp_server.h"

#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace sim {

namespace {

constexpr int header_size = 6;      // transaction id, protocol id, length
constexpr int max_length = 1 + 253; // unit id and the longest PDU
constexpr quint8 gateway_path_unavailable = 0x0A;
constexpr quint8 gateway_target_silent = 0x0B;

int be16(const QByteArray &b, int at)
{
    return quint8(b[at]) << 8 | quint8(b[at + 1]);
}

QString peer_of(const QTcpSocket *client)
{
    return client->peerAddress().toString() + QLatin1Char(':') +
           QString::number(client->peerPort());
}

// How long the reply frame (address, PDU, CRC) would take on the line.
int line_ms(const Pacing &pacing, qsizetype pdu_size)
{
    const qsizetype bits = (pdu_size + 3) * 10;
    return int((bits * 1000 + pacing.baud - 1) / pacing.baud);
}

} // namespace

MbtcpServer::MbtcpServer(RtuSlave &slave, const Pacing &pacing, bool gateway_exceptions,
                         bool verbose, QObject *parent)
    : QObject(parent), m_slave(slave), m_pacing(pacing), m_gateway_exceptions(gateway_exceptions),
      m_verbose(verbose)
{
    log_slave(m_slave, m_verbose);
    connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
}

bool MbtcpServer::listen(const QHostAddress &host, quint16 port, QString *error)
{
    if (m_server.listen(host, port))
        return true;
    *error = QStringLiteral("--mbtcp %1 на %2: %3")
                 .arg(QString::number(port), host.toString(), m_server.errorString());
    return false;
}

void MbtcpServer::accept()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        const QString peer = peer_of(client);
        log(QStringLiteral("client %1 connected").arg(peer));
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(client, &QTcpSocket::disconnected, client, [this, client, peer] {
            log(QStringLiteral("client %1 gone").arg(peer));
            client->deleteLater();
        });
        // What came in that is not a whole request yet.
        auto buffer = std::make_shared<QByteArray>();
        connect(client, &QTcpSocket::readyRead, client, [this, client, buffer] {
            *buffer += client->readAll();
            take_requests(client, *buffer);
        });
    }
}

void MbtcpServer::take_requests(QTcpSocket *client, QByteArray &buffer)
{
    while (buffer.size() >= header_size) {
        const int length = be16(buffer, 4);
        if (length < 2 || length > max_length) {
            // No telling where the next request starts: the client is out of step.
            log(QStringLiteral("client %1: length %2 in %3, closing")
                    .arg(peer_of(client), QString::number(length), hex(buffer.left(header_size))));
            buffer.clear();
            client->abort();
            return;
        }
        if (buffer.size() < header_size + length)
            return;
        const QByteArray request = buffer.left(header_size + length);
        buffer.remove(0, header_size + length);
        answer(client, request);
    }
}

void MbtcpServer::answer(QTcpSocket *client, const QByteArray &request)
{
    log(QStringLiteral("rx %1").arg(hex(request)));
    if (be16(request, 2) != 0) {
        log(QStringLiteral("protocol id %1 is not Modbus, no reply").arg(be16(request, 2)));
        return;
    }
    const quint8 unit = quint8(request[6]);
    const QByteArray reply = reply_pdu(unit, request.mid(header_size + 1));
    if (reply.isEmpty())
        return;
    // transaction id, protocol id, length, unit id, PDU
    QByteArray frame = request.left(4);
    frame.append(char((reply.size() + 1) >> 8));
    frame.append(char((reply.size() + 1) & 0xFF));
    frame.append(char(unit));
    frame += reply;
    Reply r = m_slave.make_reply(frame);
    if (m_pacing.baud > 0)
        r.delay_ms += m_pacing.turnaround_ms + line_ms(m_pacing, reply.size());
    send(client, r);
}

QByteArray MbtcpServer::reply_pdu(quint8 unit, const QByteArray &pdu)
{
    const bool on_line = unit >= 1 && unit <= 247;
    const QByteArray reply = on_line ? m_slave.answer(unit, pdu) : QByteArray();
    if (!reply.isEmpty() || !m_gateway_exceptions) {
        if (!on_line)
            log(QStringLiteral("unit %1 is no slave address, no reply").arg(unit));
        return reply;
    }
    const quint8 code = on_line ? gateway_target_silent : gateway_path_unavailable;
    log(QStringLiteral("unit %1: gateway exception %2").arg(unit).arg(code));
    return Controller::exception(quint8(pdu[0]), code);
}

void MbtcpServer::send(QTcpSocket *client, const Reply &r)
{
    if (r.delay_ms == 0 && r.second.isEmpty()) {
        write(client, r.first);
        return;
    }
    // The client as the context: a reply to a client that went is dropped.
    QTimer::singleShot(r.delay_ms, Qt::PreciseTimer, client, [this, client, r] {
        write(client, r.first);
        if (!r.second.isEmpty())
            QTimer::singleShot(r.pause_ms, Qt::PreciseTimer, client,
                               [this, client, r] { write(client, r.second); });
    });
}

void MbtcpServer::write(QTcpSocket *client, const QByteArray &bytes)
{
    log(QStringLiteral("tx %1").arg(hex(bytes)));
    client->write(bytes);
}

} // namespace sim
