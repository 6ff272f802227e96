#include "mqtt_publisher.h"

#include "mqtt_reason.h"
#include "mqtt_tls.h"

#include <mosquitto.h>

#include <cerrno>
#include <utility>

namespace {

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
    m_next_address_timer.setSingleShot(true);
    connect(&m_next_address_timer, &QTimer::timeout, this, &MqttPublisher::connect_to_host);
    m_misc_timer.setInterval(misc_interval_ms);
    connect(&m_misc_timer, &QTimer::timeout, this, &MqttPublisher::serve);
    m_connect_timer.setSingleShot(true);
    connect(&m_connect_timer, &QTimer::timeout, this, &MqttPublisher::connect_timed_out);
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
    const int rc = mosquitto_username_pw_set(m_mosq, or_null(user), or_null(password));
    if (rc != MOSQ_ERR_SUCCESS) {
        emit notice(QStringLiteral("брокер %1: настройки не приняты: %2")
                        .arg(s.url, mqtt_failure_text(rc, errno, m_last_error)));
        return false;
    }
    return !s.tls || configure_tls();
}

// A certificate file that cannot be used is as final as a refused one.
bool MqttPublisher::configure_tls()
{
    QString error;
    m_tls = MqttTls::make(m_settings, error);
    int rc = MOSQ_ERR_SUCCESS;
    if (m_tls) {
        // Complete as it is: libmosquitto neither adds to it nor makes its own.
        rc = mosquitto_int_option(m_mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_void_option(m_mosq, MOSQ_OPT_SSL_CTX, m_tls->context());
        if (rc != MOSQ_ERR_SUCCESS)
            error = mqtt_failure_text(rc, errno, m_last_error);
    }
    if (error.isEmpty())
        return true;
    emit notice(QStringLiteral("брокер %1: %2").arg(m_settings.url, error));
    emit refused();
    return false;
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
    // Counted first: a QoS 0 message written at once is reported written
    // from inside mosquitto_publish.
    ++m_unacknowledged;
    const int rc = mosquitto_publish(m_mosq, nullptr, topic.constData(), int(m.payload.size()),
                                     m.payload.constData(), m_settings.qos, m.retained);
    // QoS 1 and 2: libmosquitto keeps the message until it is acknowledged.
    if (rc == MOSQ_ERR_SUCCESS || (m_settings.qos > 0 && !refused_outright(rc)))
        return;
    --m_unacknowledged;
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
