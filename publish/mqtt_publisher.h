#pragma once
// Publishes to one MQTT broker for as long as the program runs, through
// libmosquitto. Connection loss is normal here: the publisher keeps what
// was published meanwhile (see Outbox), reconnects after 1, 2, 4, ... up
// to 30 s, for ever, and says so in Russian through notice().
//
// It lives in the main thread and never blocks it. libmosquitto's socket
// is watched by QSocketNotifiers and served with mosquitto_loop() at a
// zero timeout, which knows every state of the connection (TCP connect in
// progress, TLS handshake, packets to write); a one-second timer runs the
// keepalive. So every callback comes in the main thread, no lock is
// needed, and publish() writes the packet to the socket before it
// returns. The one blocking call libmosquitto would make, the host name
// lookup in mosquitto_connect_async, is made with QHostInfo in Qt's own
// threads instead: a dead name server then costs a retry, not a frozen poll.
// libmosquitto is given one address of the name at a time, in the order the
// resolver gives them, each tried before the round waits and starts again:
// by itself it would keep to the first (::1 for "localhost" where the broker
// listens on 127.0.0.1 only).
//
// A broker that refuses the login or whose certificate is not trusted is
// not away: retrying cannot help, so the publisher says why, emits refused()
// and stops.

#include "mqtt_settings.h"
#include "outbox.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

struct mosquitto;
class MqttTls;

class MqttPublisher : public QObject {
    Q_OBJECT

public:
    explicit MqttPublisher(MqttSettings settings, QObject *parent = nullptr);
    ~MqttPublisher() override;

    // What the broker publishes for us when the connection ends without a
    // goodbye (the process killed, the network gone). Before start(). MQTT
    // keeps one will a connection: a status topic of its own for each of
    // several controllers takes a publisher each, and each its own client
    // id, as a broker drops the older of two connections with one id.
    void set_will(const QString &topic, const QByteArray &payload, bool retained);

    void start();
    // False only for a topic no broker takes (see mqtt_topic_error).
    bool publish(const QString &topic, const QByteArray &payload, bool retained);
    // Sends what waits, waits for the broker's acknowledgements, says
    // goodbye so that the will is not published, then emits stopped().
    // A broker away at that moment gets one more attempt; after timeout_ms
    // the publisher gives up, says what was not delivered, and stops.
    void stop(int timeout_ms = 5000);

    const MqttSettings &settings() const { return m_settings; }
    // Measurements waiting for the broker.
    int waiting() const { return m_outbox.waiting(); }
    // Messages handed to the broker and not yet acknowledged (QoS 1 and 2)
    // or not yet written (QoS 0).
    int in_flight() const { return m_unacknowledged; }
    // How the run went, for its exit status: whether the broker was ever
    // reached, and what it had not received when the publisher stopped.
    bool ever_connected() const { return m_was_connected; }
    int undelivered() const { return m_undelivered; }

signals:
    void connected();
    void disconnected();
    // "брокер mqtt://host:1883 недоступен: соединение отвергнуто, повтор
    // через 2 с", "соединение с брокером mqtt://host:1883 восстановлено", ...
    void notice(const QString &text);
    // The login or a certificate was refused (said through notice()); the
    // publisher stops.
    void refused();
    void stopped();

protected:
    // Looks the broker's name up and answers with addresses_found(); a
    // stand-in may answer with addresses of its own.
    virtual void look_up();
    void addresses_found(const QList<QHostAddress> &addresses);

private:
    enum class State { idle, resolving, connecting, connected, waiting, stopped };

    static void on_connect(mosquitto *, void *self, int rc);
    static void on_disconnect(mosquitto *, void *self, int rc);
    static void on_publish(mosquitto *, void *self, int mid);
    static void on_log(mosquitto *, void *self, int level, const char *text);

    bool configure();
    bool configure_tls();
    void connect_now();
    void host_found(const QHostInfo &info);
    void connect_to_host();
    void connect_timed_out();
    void connection_up();
    void connection_down(const QString &reason);
    void attempt_failed(const QString &reason);
    // Why the broker will not have us, from the last attempt; empty when
    // it may just be away.
    QString refusal() const;
    void refuse(const QString &why);
    void retry_later(const QString &reason);
    void send(const MqttMessage &message);
    int send_all();
    void serve();
    void watch_socket();
    void unwatch_socket();
    void check_stop();
    void finish_stop();

    MqttSettings m_settings;
    std::unique_ptr<MqttTls> m_tls; // outlives m_mosq, which holds its context
    mosquitto *m_mosq = nullptr;
    Outbox m_outbox;
    State m_state = State::idle;
    bool m_failed = false; // a failure was reported; say when it is over
    bool m_was_connected = false;
    int m_retry_s = 1;
    int m_lookup_id = -1;
    QList<QHostAddress> m_addresses; // of the name, as last looked up
    qsizetype m_address = 0;         // the one tried now
    QStringList m_round_failures;    // "::1: соединение отвергнуто", this round
    int m_undelivered = 0;
    // Handed to libmosquitto and not yet written (QoS 0) or acknowledged.
    int m_unacknowledged = 0;
    QSet<QString> m_unsent_retained; // topics changed while the broker was away
    QString m_last_error;            // libmosquitto's log, for a TLS failure
    bool m_stopping = false;
    bool m_goodbye_sent = false;
    int m_socket = -1;
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
    QTimer m_retry_timer;
    QTimer m_next_address_timer; // out of the callback that reported the failure
    QTimer m_misc_timer;
    QTimer m_connect_timer;
    QTimer m_stop_timer;
};
