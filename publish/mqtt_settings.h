#pragma once
// What the publisher needs to reach a broker, from what a user types. The
// option names are mosquitto_pub's, so that a command that works there
// works here: -u/--username, -P/--pw, --cafile, --capath, --cert, --key,
// --insecure, --id, --qos, --keepalive; the broker is one URL,
// mqtt://HOST[:PORT] or mqtts://HOST[:PORT] for TLS.

#include <QCommandLineOption>
#include <QList>
#include <QString>

// As typed, before any check.
struct MqttOptions {
    QString url;
    QString username;
    QString password;
    QString cafile;
    QString capath;
    QString cert;
    QString key;
    bool insecure = false;
    QString id;
    QString qos;
    QString keepalive;
};

struct MqttSettings {
    QString url; // mqtt://HOST:PORT with the port spelled out, for messages
    QString host;
    int port = 1883;
    bool tls = false;
    QString username;
    QString password;
    QString cafile; // neither cafile nor capath: the system's certificates
    QString capath;
    QString cert;
    QString key;
    bool insecure = false; // the broker's name is not checked against its certificate
    QString client_id;
    // At least once by default: a message the broker has not acknowledged
    // when the connection breaks is sent again after reconnecting.
    int qos = 1;
    int keepalive_s = 60;
    // Measurements kept while the broker is away; about half an hour of
    // eight controllers at 1.2 s each.
    int queue_limit = 10000;
};

struct MqttSettingsResult {
    MqttSettings settings;
    QString error; // in Russian; empty when the settings are good
};

MqttSettingsResult mqtt_settings(const MqttOptions &typed);

// The options above for a QCommandLineParser (the broker is --mqtt URL), and
// what they hold after parsing. Without -P the password is taken from the
// environment variable RZT_MQTT_PASSWORD, which other users cannot read in
// the process list.
QList<QCommandLineOption> mqtt_command_line_options();
class QCommandLineParser;
MqttOptions mqtt_options_from(const QCommandLineParser &parser);

// rzt604-<host name>-<process id>: unique on a site, and says whose it is.
QString default_client_id();

// Why a topic (or a topic prefix) cannot be published to; empty when it can.
QString mqtt_topic_error(const QString &topic);
