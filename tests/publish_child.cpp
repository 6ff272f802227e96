// A publisher in a process of its own, for the will: the test kills it or
// asks it to stop. Usage: publish_child PORT TOPIC [QOS]. The will is TOPIC
// "dead" (retained); once connected it publishes TOPIC "online" (retained)
// and prints "connected"; a line "stop" on standard input publishes TOPIC
// "offline" (retained) and stops as the publish command does. What the
// publisher has to say goes to standard error.

#include "mqtt_publisher.h"
#include "mqtt_settings.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString topic = QString::fromLocal8Bit(argv[2]);
    MqttOptions typed;
    typed.url = QStringLiteral("mqtt://127.0.0.1:%1").arg(QString::fromLocal8Bit(argv[1]));
    typed.qos = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const MqttSettingsResult r = mqtt_settings(typed);
    if (!r.error.isEmpty())
        return 2;
    MqttPublisher publisher(r.settings);
    publisher.set_will(topic, "dead", true);
    QObject::connect(&publisher, &MqttPublisher::connected, [&] {
        publisher.publish(topic, "online", true);
        std::puts("connected");
        std::fflush(stdout);
    });
    QObject::connect(&publisher, &MqttPublisher::notice,
                     [](const QString &text) { std::fprintf(stderr, "%s\n", qPrintable(text)); });
    QObject::connect(&publisher, &MqttPublisher::stopped, &app, &QCoreApplication::quit);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[64];
        const ssize_t n = read(STDIN_FILENO, line, sizeof line);
        if (n <= 0 || (n >= 4 && std::memcmp(line, "stop", 4) == 0)) {
            input.setEnabled(false);
            publisher.publish(topic, "offline", true);
            publisher.stop();
        }
    });
    publisher.start();
    return app.exec();
}
