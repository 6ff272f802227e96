#include "mqtt_publisher.h"

#include "mqtt_reason.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

constexpr int longest_retry_s = 30;
// A broker that neither refuses nor answers (a dropped SYN, a stalled TLS
// handshake) would otherwise hold the attempt for the kernel's two minutes.
constexpr int connect_timeout_ms = 10000;
// libmosquitto's keepalive and retry bookkeeping; seconds are its unit.
constexpr int misc_interval_ms = 1000;

// mosquitto_lib_init is not thread-safe and sets up OpenSSL: once per
// process, before the first client, undone at exit.
void init_library_once()
{
    static const struct Library {
        Library() { mosquitto_lib_init(); }
        ~Library() { mosquitto_lib_cleanup(); }
    } library;
}

// Results of mosquitto_publish for a message that never reached its queue.
bool refused_outright(int rc)
{
    switch (rc) {
    case MOSQ_ERR_INVAL:
    case MOSQ_ERR_NOMEM:
    case MOSQ_ERR_PAYLOAD_SIZE:
    case MOSQ_ERR_MALFORMED_UTF8:
    case MOSQ_ERR_OVERSIZE_PACKET:
    case MOSQ_ERR_QOS_NOT_SUPPORTED:
    case MOSQ_ERR_RETAIN_NOT_SUPPORTED:
        return true;
    default:
        return false;
    }
}

const char *or_null(const QByteArray &bytes)
{
    return bytes.isEmpty() ? nullptr : bytes.constData();
}

} // namespace

MqttPublisher::MqttPublisher(MqttSettings settings, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_outbox(m_settings.queue_limit)
{
    init_library_once();
    m_mosq = mosquitto_new(m_settings.client_id.toUtf8().constData(), true, this);
    if (m_mosq) {
        mosquitto_connect_callback_set(m_mosq, &MqttPublisher::on_connect);
        mosquitto_disconnect_callback_set(m_mosq, &MqttPublisher::on_disconnect);
        mosquitto_publish_callback_set(m_mosq, &MqttPublisher::on_publish);
        mosquitto_log_callback_set(m_mosq, &MqttPublisher::on_log);
    }
    m_retry_timer.setSingleShot(true);
    connect(&m_retry_timer, &QTimer::timeout, this, &MqttPublisher::connect_now);
    m_misc_timer.setInterval(misc_interval_ms);
    connect(&m_misc_timer, &QTimer::timeout, this, &MqttPublisher::serve);
    m_connect_timer.setSingleShot(true);
    connect(&m_connect_timer, &QTimer::timeout, this, [this] {
        if (m_state == State::connecting)
            connection_down(QStringLiteral("нет ответа за %1 с").arg(connect_timeout_ms / 1000));
    });
    m_stop_timer.setSingleShot(true);
    connect(&m_stop_timer, &QTimer::timeout, this, &MqttPublisher::finish_stop);
}

MqttPublisher::~MqttPublisher()
{
    if (m_lookup_id >= 0)
        QHostInfo::abortHostLookup(m_lookup_id);
    unwatch_socket();
    // Closes the socket without a goodbye: the broker publishes the will.
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

void MqttPublisher::set_will(const QString &topic, const QByteArray &payload, bool retained)
{
    if (m_mosq)
        mosquitto_will_set(m_mosq, topic.toUtf8().constData(), int(payload.size()),
                           payload.constData(), m_settings.qos, retained);
}

bool MqttPublisher::configure()
{
    const MqttSettings &s = m_settings;
    const QByteArray user = s.username.toUtf8(), password = s.password.toUtf8();
    int rc = mosquitto_username_pw_set(m_mosq, or_null(user), or_null(password));
    if (rc == MOSQ_ERR_SUCCESS && s.tls) {
        if (s.cafile.isEmpty() && s.capath.isEmpty())
            mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            rc = mosquitto_tls_set(m_mosq, or_null(s.cafile.toLocal8Bit()),
                                   or_null(s.capath.toLocal8Bit()), or_null(s.cert.toLocal8Bit()),
                                   or_null(s.key.toLocal8Bit()), nullptr);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_tls_insecure_set(m_mosq, s.insecure);
    }
    if (rc != MOSQ_ERR_SUCCESS)
        emit notice(QStringLiteral("брокер %1: настройки не приняты: %2")
                        .arg(s.url, mqtt_failure_text(rc, errno, m_last_error)));
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttPublisher::start()
{
    if (m_state != State::idle)
        return;
    if (!m_mosq || !configure()) {
        if (!m_mosq)
            emit notice(QStringLiteral("клиент MQTT не создан: %1").arg(m_settings.client_id));
        m_state = State::stopped;
        QMetaObject::invokeMethod(this, &MqttPublisher::stopped, Qt::QueuedConnection);
        return;
    }
    connect_now();
}

void MqttPublisher::connect_now()
{
    // An address needs no lookup; QHostInfo would look up its name instead.
    if (!QHostAddress(m_settings.host).isNull()) {
        connect_to_host();
        return;
    }
    m_state = State::resolving;
    m_lookup_id = QHostInfo::lookupHost(m_settings.host, this, &MqttPublisher::host_found);
}

void MqttPublisher::host_found(const QHostInfo &info)
{
    m_lookup_id = -1;
    if (m_state != State::resolving)
        return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        retry_later(QStringLiteral("узел %1 не найден").arg(m_settings.host));
        return;
    }
    // The name server has just answered, so libmosquitto's own lookup of
    // the name (kept for the certificate's name check) is quick.
    connect_to_host();
}

void MqttPublisher::connect_to_host()
{
    m_state = State::connecting;
    m_last_error.clear();
    const int rc = mosquitto_connect_async(m_mosq, m_settings.host.toUtf8().constData(),
                                           m_settings.port, m_settings.keepalive_s);
    const int err = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        retry_later(mqtt_failure_text(rc, err, m_last_error));
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
    if (was_up)
        emit disconnected();
    retry_later(reason);
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
                    .arg(m_settings.url, reason)
                    .arg(m_retry_s));
    m_failed = true;
    m_retry_timer.start(m_retry_s * 1000);
    m_retry_s = std::min(m_retry_s * 2, longest_retry_s);
}

bool MqttPublisher::publish(const QString &topic, const QByteArray &payload, bool retained)
{
    if (m_state == State::stopped || !mqtt_topic_error(topic).isEmpty())
        return false;
    const MqttMessage message{topic, payload, retained};
    if (retained)
        m_outbox.add(message); // sent again after every reconnection
    if (m_state != State::connected || m_goodbye_sent) {
        if (retained)
            m_unsent_retained.insert(topic);
        else
            m_outbox.add(message);
        return true;
    }
    send(message);
    watch_socket();
    return true;
}

void MqttPublisher::send(const MqttMessage &m)
{
    const QByteArray topic = m.topic.toUtf8();
    const int rc = mosquitto_publish(m_mosq, nullptr, topic.constData(), int(m.payload.size()),
                                     m.payload.constData(), m_settings.qos, m.retained);
    if (rc == MOSQ_ERR_SUCCESS || (m_settings.qos > 0 && !refused_outright(rc))) {
        ++m_unacknowledged; // QoS 1 and 2: libmosquitto keeps it until acknowledged
        return;
    }
    if (!refused_outright(rc) && !m.retained)
        m_outbox.add(m); // the connection broke under it; the retained ones are kept anyway
}

int MqttPublisher::send_all()
{
    int sent = 0;
    for (const MqttMessage &m : m_outbox.retained()) {
        send(m);
        sent += m_unsent_retained.contains(m.topic) ? 1 : 0;
    }
    m_unsent_retained.clear();
    for (const MqttMessage &m : m_outbox.take_waiting()) {
        send(m);
        ++sent;
    }
    return sent;
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
        (m_state == State::connecting || m_state == State::connected))
        connection_down(mqtt_failure_text(rc, err, m_last_error));
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
