#include "outbox.h"

#include <utility>

void Outbox::add(const MqttMessage &message)
{
    if (message.retained) {
        m_retained.insert(message.topic, message.payload);
        return;
    }
    if (m_limit <= 0) {
        ++m_dropped;
        return;
    }
    while (int(m_waiting.size()) >= m_limit) {
        m_waiting.pop_front();
        ++m_dropped;
    }
    m_waiting.push_back(message);
}

QList<MqttMessage> Outbox::retained() const
{
    QList<MqttMessage> out;
    for (auto it = m_retained.cbegin(); it != m_retained.cend(); ++it)
        out.append({it.key(), it.value(), true});
    return out;
}

std::deque<MqttMessage> Outbox::take_waiting()
{
    return std::exchange(m_waiting, {});
}

int Outbox::take_dropped()
{
    return std::exchange(m_dropped, 0);
}
