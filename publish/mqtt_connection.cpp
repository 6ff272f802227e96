// The connection's life: the host name looked up, libmosquitto's
// non-blocking connect to each of its addresses in turn, its socket served
// from Qt's event loop, a failed or lost connection retried after a growing
// pause, and a refusal that no retry can mend told apart.

#include "mqtt_publisher.h"

#include "mqtt_reason.h"
#include "mqtt_tls.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>

#include <poll.h>

namespace {

constexpr int longest_retry_s = 30;
// A broker that neither refuses nor answers (a dropped SYN, a stalled TLS
// handshake) would otherwise hold the attempt for the kernel's two minutes.
constexpr int connect_timeout_ms = 10000;

bool hung_up(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return fd >= 0 && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR));
}

} // namespace

void MqttPublisher::connect_now()
{
    m_round_failures.clear();
    m_address = 0;
    // An address needs no lookup; QHostInfo would look up its name instead.
    if (const QHostAddress address(m_settings.host); !address.isNull()) {
        m_addresses = {address};
        connect_to_host();
        return;
    }
    m_state = State::resolving;
    look_up();
}

void MqttPublisher::look_up()
{
    m_lookup_id = QHostInfo::lookupHost(m_settings.host, this, &MqttPublisher::host_found);
}

void MqttPublisher::host_found(const QHostInfo &info)
{
    m_lookup_id = -1;
    addresses_found(info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>());
}

void MqttPublisher::addresses_found(const QList<QHostAddress> &addresses)
{
    if (m_state != State::resolving)
        return;
    if (addresses.isEmpty()) {
        retry_later(QStringLiteral("узел %1 не найден").arg(m_settings.host));
        return;
    }
    m_addresses = addresses;
    m_address = 0;
    connect_to_host();
}

void MqttPublisher::connect_to_host()
{
    m_state = State::connecting;
    m_last_error.clear();
    if (m_tls)
        m_tls->forget_verdict();
    const QByteArray address = m_addresses.value(m_address).toString().toUtf8();
    const int rc = mosquitto_connect_async(m_mosq, address.constData(), m_settings.port,
                                           m_settings.keepalive_s);
    const int err = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        attempt_failed(mqtt_failure_text(rc, err, m_last_error));
        return;
    }
    m_connect_timer.start(connect_timeout_ms);
    m_misc_timer.start();
    watch_socket();
}

void MqttPublisher::on_connect(mosquitto *, void *self, int rc)
{
    auto *p = static_cast<MqttPublisher *>(self);
    if (p->m_state != State::connecting)
        return;
    if (rc == 0)
        p->connection_up();
    else if (const QString why = mqtt_login_refusal(rc); !why.isEmpty())
        p->refuse(why);
    else
        p->connection_down(mqtt_refusal_text(rc));
}

void MqttPublisher::on_disconnect(mosquitto *, void *self, int rc)
{
    const int err = errno;
    auto *p = static_cast<MqttPublisher *>(self);
    if (p->m_goodbye_sent)
        p->finish_stop();
    else if (p->m_state == State::connecting || p->m_state == State::connected)
        p->connection_down(mqtt_failure_text(rc, err, p->m_last_error));
}

void MqttPublisher::on_publish(mosquitto *, void *self, int)
{
    auto *p = static_cast<MqttPublisher *>(self);
    p->m_unacknowledged = std::max(0, p->m_unacknowledged - 1);
    p->check_stop();
}

void MqttPublisher::on_log(mosquitto *, void *self, int level, const char *text)
{
    // "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed"
    static const QRegularExpression openssl_prefix(QStringLiteral("^OpenSSL Error\\[\\d+\\]: "));
    if (level & MOSQ_LOG_ERR)
        static_cast<MqttPublisher *>(self)->m_last_error =
            QString::fromUtf8(text).remove(openssl_prefix);
}

void MqttPublisher::connect_timed_out()
{
    if (m_state == State::connecting)
        connection_down(QStringLiteral("нет ответа за %1 с").arg(connect_timeout_ms / 1000));
}

void MqttPublisher::connection_up()
{
    m_connect_timer.stop();
    m_state = State::connected;
    m_retry_s = 1;
    const int sent = send_all();
    const int dropped = m_outbox.take_dropped();
    if (m_failed) {
        QString text = QStringLiteral("соединение с брокером %1 %2")
                           .arg(m_settings.url, m_was_connected ? QStringLiteral("восстановлено")
                                                                : QStringLiteral("установлено"));
        if (sent > 0)
            text += QStringLiteral(", отправлено ожидавших сообщений: %1").arg(sent);
        if (dropped > 0)
            text += QStringLiteral(", старейших измерений не сохранено: %1").arg(dropped);
        emit notice(text);
    }
    m_failed = false;
    m_was_connected = true;
    emit connected();
    check_stop();
}

void MqttPublisher::connection_down(const QString &reason)
{
    const bool was_up = m_state == State::connected;
    unwatch_socket();
    m_connect_timer.stop();
    m_misc_timer.stop();
    // libmosquitto drops QoS 0 packets it had not written; it keeps and
    // sends again the others.
    if (m_settings.qos == 0)
        m_unacknowledged = 0;
    m_state = State::waiting;
    if (was_up) {
        emit disconnected();
        retry_later(reason);
    } else {
        attempt_failed(reason);
    }
}

// The next address of the name, at once; after the last, the round waits.
void MqttPublisher::attempt_failed(const QString &reason)
{
    if (const QString why = refusal(); !why.isEmpty()) {
        refuse(why);
        return;
    }
    m_state = State::waiting;
    if (m_addresses.size() < 2) {
        retry_later(reason);
        return;
    }
    m_round_failures << m_addresses.value(m_address).toString() + QStringLiteral(": ") + reason;
    if (++m_address < m_addresses.size()) {
        m_next_address_timer.start(0);
        return;
    }
    retry_later(m_round_failures.join(QStringLiteral("; ")));
}

QString MqttPublisher::refusal() const
{
    if (!m_tls)
        return {};
    if (QString why = m_tls->certificate_problem(); !why.isEmpty())
        return why;
    return mqtt_client_certificate_refusal(m_last_error, !m_settings.cert.isEmpty());
}

void MqttPublisher::refuse(const QString &why)
{
    unwatch_socket();
    m_connect_timer.stop();
    m_misc_timer.stop();
    m_state = State::waiting;
    emit notice(QStringLiteral("брокер %1 не принял подключение: %2").arg(m_settings.url, why));
    emit refused();
    finish_stop();
}

void MqttPublisher::retry_later(const QString &reason)
{
    m_state = State::waiting;
    if (m_stopping) {
        emit notice(QStringLiteral("брокер %1 недоступен: %2").arg(m_settings.url, reason));
        finish_stop();
        return;
    }
    emit notice(QStringLiteral("брокер %1 недоступен: %2, повтор через %3 с")
                    .arg(m_settings.url, reason, QString::number(m_retry_s)));
    m_failed = true;
    m_retry_timer.start(m_retry_s * 1000);
    m_retry_s = std::min(m_retry_s * 2, longest_retry_s);
}

void MqttPublisher::serve()
{
    if (!m_mosq || m_socket < 0)
        return;
    // Zero timeout: libmosquitto's select only sorts out what the
    // notifiers already told us; callbacks run inside.
    const int rc = mosquitto_loop(m_mosq, 0, 1);
    const int err = errno;
    // A failed TLS handshake closes the socket without a callback.
    if (rc != MOSQ_ERR_SUCCESS && mosquitto_socket(m_mosq) < 0 && !m_goodbye_sent &&
        (m_state == State::connecting || m_state == State::connected)) {
        connection_down(mqtt_failure_text(rc, err, m_last_error));
        return;
    }
    // libmosquitto starts the TLS handshake before the TCP connection is
    // made and takes a refused connection for a handshake still under way:
    // without this the socket would wake us for nothing until the attempt
    // timed out.
    if (m_state == State::connecting && hung_up(mosquitto_socket(m_mosq))) {
        connection_down(m_last_error.isEmpty()
                            ? QStringLiteral("соединение не установлено (брокер не запущен?)")
                            : mqtt_failure_text(MOSQ_ERR_TLS, 0, m_last_error));
        return;
    }
    watch_socket();
}

void MqttPublisher::watch_socket()
{
    if (m_state != State::connecting && m_state != State::connected)
        return;
    const int fd = mosquitto_socket(m_mosq);
    if (fd != m_socket) {
        unwatch_socket();
        m_socket = fd;
        if (fd < 0)
            return;
        m_read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        m_write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        connect(m_read.get(), &QSocketNotifier::activated, this, &MqttPublisher::serve);
        connect(m_write.get(), &QSocketNotifier::activated, this, &MqttPublisher::serve);
    }
    m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttPublisher::unwatch_socket()
{
    // Possibly called from inside a notifier's own signal.
    for (auto *n : {&m_read, &m_write}) {
        if (*n) {
            (*n)->setEnabled(false);
            n->release()->deleteLater();
        }
    }
    m_socket = -1;
}
