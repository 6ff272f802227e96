#pragma once
// What waits for the broker while it is away.
//
// A retained message (a controller's status, its parameters) says what is
// true now, so only the latest one of each topic is kept, and it is never
// dropped; it is also what the publisher sends again after every
// reconnection, because a broker restarted without persistence has lost
// its retained messages. Measurements are kept in order up to a limit; past
// it the oldest goes first, as the newest say more about the plant now.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <deque>

struct MqttMessage {
    QString topic;
    QByteArray payload;
    bool retained = false;
};

class Outbox {
public:
    explicit Outbox(int limit) : m_limit(limit) {}

    // A retained message is remembered for good; any other waits in line.
    void add(const MqttMessage &message);

    // The latest retained message of every topic, in topic order.
    QList<MqttMessage> retained() const;
    // The waiting measurements, oldest first; the line is empty afterwards.
    std::deque<MqttMessage> take_waiting();

    int waiting() const { return int(m_waiting.size()); }
    // Measurements dropped for room since the last call.
    int take_dropped();

private:
    int m_limit;
    QMap<QString, QByteArray> m_retained;
    std::deque<MqttMessage> m_waiting;
    int m_dropped = 0;
};
