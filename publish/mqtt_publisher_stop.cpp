// The end of a run: what was published reaches the broker, then a goodbye,
// so that the broker does not publish the will for a publisher that ended
// on purpose.

#include "mqtt_publisher.h"

#include <mosquitto.h>

#include <utility>

void MqttPublisher::stop(int timeout_ms)
{
    if (m_stopping || m_state == State::stopped)
        return;
    m_stopping = true;
    m_retry_timer.stop();
    m_next_address_timer.stop();
    m_stop_timer.start(timeout_ms);
    switch (m_state) {
    case State::idle:
        finish_stop();
        break;
    case State::waiting:
        connect_now(); // one more attempt; its failure ends the run
        break;
    case State::connected:
        check_stop();
        break;
    default:
        break; // the attempt under way decides
    }
}

void MqttPublisher::check_stop()
{
    if (!m_stopping || m_goodbye_sent || m_state != State::connected)
        return;
    if (m_unacknowledged > 0 || m_outbox.waiting() > 0 || mosquitto_want_write(m_mosq))
        return;
    m_goodbye_sent = true;
    // Written at once, or by serve() when called from a callback; once it
    // is out, libmosquitto closes the socket and on_disconnect finishes.
    mosquitto_disconnect(m_mosq);
    watch_socket();
}

void MqttPublisher::finish_stop()
{
    if (m_state == State::stopped)
        return;
    const bool clean = m_goodbye_sent;
    const int undelivered = m_outbox.waiting() + m_unacknowledged + int(m_unsent_retained.size());
    m_undelivered = clean ? 0 : undelivered;
    m_state = State::stopped;
    if (m_lookup_id >= 0)
        QHostInfo::abortHostLookup(std::exchange(m_lookup_id, -1));
    m_stop_timer.stop();
    m_retry_timer.stop();
    m_next_address_timer.stop();
    m_connect_timer.stop();
    m_misc_timer.stop();
    unwatch_socket();
    if (!clean && undelivered > 0)
        emit notice(QStringLiteral("брокер %1 не получил сообщений: %2")
                        .arg(m_settings.url, QString::number(undelivered)));
    // Not from inside a libmosquitto callback: destroying the client closes
    // a socket still open (a stop that timed out) without a goodbye, and the
    // broker then publishes the will, the truth about such an end.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_mosq)
                mosquitto_destroy(std::exchange(m_mosq, nullptr));
            emit stopped();
        },
        Qt::QueuedConnection);
}
