// A serial device server gone bad, for the suites. It listens on a loopback
// port (printed as the first line of standard output) and, on every
// connection, either sends garbage for as long as the connection lasts, as
// fast as the peer takes it, or answers every request with the same bytes.
//
//   hostile_server flood
//   hostile_server reply HEX

#include <QByteArray>
#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool flood = args.value(1) == QLatin1String("flood");
    const QByteArray reply = QByteArray::fromHex(args.value(2).toLatin1());
    if (!flood && (args.value(1) != QLatin1String("reply") || reply.isEmpty())) {
        std::fputs("usage: hostile_server flood | reply HEX\n", stderr);
        return 1;
    }
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "hostile_server: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("%d\n", server.serverPort());
    std::fflush(stdout);

    const QByteArray garbage(64 * 1024, char(0x55));
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket *s = server.nextPendingConnection();
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        if (flood) {
            // Keeps about a megabyte queued: the peer gets all it can read.
            const auto more = [s, &garbage] {
                while (s->bytesToWrite() < 1024 * 1024)
                    s->write(garbage);
            };
            QObject::connect(s, &QTcpSocket::bytesWritten, s, more);
            more();
            return;
        }
        QObject::connect(s, &QTcpSocket::readyRead, s, [s, &reply] {
            s->readAll();
            s->write(reply);
        });
    });
    return app.exec();
}
