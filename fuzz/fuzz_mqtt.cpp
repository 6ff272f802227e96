// The broker URL and the topic as a user types them: a URL that is taken
// names a host and a port in range and reads back the same from the URL the
// settings spell out; a topic that is taken is one any broker accepts.
//
// Input: the URL, a 0 byte, then the topic (a prefix or a whole topic).

#include "mqtt_settings.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char *what, const QString &detail)
{
    if (ok)
        return;
    std::fprintf(stderr, "fuzz_mqtt: %s: \"%s\"\n", what, qPrintable(detail));
    std::abort();
}

MqttSettingsResult settings_of(const QString &url)
{
    MqttOptions typed;
    typed.url = url;
    typed.id = QStringLiteral("fuzz"); // not the host name and process id
    return mqtt_settings(typed);
}

void check_url(const QString &url)
{
    const MqttSettingsResult r = settings_of(url);
    if (!r.error.isEmpty())
        return;
    const MqttSettings &s = r.settings;
    check(!s.host.isEmpty(), "a URL taken without a host", url);
    check(s.port >= 1 && s.port <= 65535, "a port out of range taken", url);
    check(s.url.startsWith(s.tls ? QLatin1String("mqtts://") : QLatin1String("mqtt://")),
          "the spelled-out URL has another scheme", url);
    // Messages name the broker by this URL; it must mean the same broker.
    const MqttSettingsResult again = settings_of(s.url);
    check(again.error.isEmpty(), "the spelled-out URL is refused", s.url);
    check(again.settings.host == s.host && again.settings.port == s.port &&
              again.settings.tls == s.tls && again.settings.url == s.url,
          "the spelled-out URL reads back different", url + QStringLiteral(" -> ") + s.url);
}

void check_topic(const QString &topic)
{
    if (!mqtt_topic_error(topic).isEmpty())
        return;
    const QByteArray bytes = topic.toUtf8();
    check(!bytes.isEmpty() && bytes.size() <= 65535, "a topic of a size MQTT has not taken",
          topic.left(80));
    check(!bytes.contains('+') && !bytes.contains('#') && !bytes.contains('\0'),
          "a topic with a wildcard or a 0 byte taken", topic.left(80));
    // libmosquitto refuses to send, and brokers drop, the code points MQTT
    // warns against: control characters and non-characters.
    for (const char32_t c : topic.toUcs4()) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        const bool non_character = (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
        check(!control && !non_character, "a topic no broker is sent taken", topic.left(80));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype end = input.indexOf('\0');
    check_url(QString::fromUtf8(end < 0 ? input : input.left(end)));
    if (end >= 0)
        check_topic(QString::fromUtf8(input.mid(end + 1)));
    return 0;
}
