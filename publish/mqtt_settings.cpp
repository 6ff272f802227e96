#include "mqtt_settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

#include <mosquitto.h>

namespace {

constexpr int default_port = 1883;
constexpr int default_tls_port = 8883;

// Empty when the file (or the folder, for --capath) is there and readable.
QString path_error(const QString &path, const char *option, bool folder)
{
    const QFileInfo info(path);
    const QString what = folder ? QStringLiteral("папка") : QStringLiteral("файл");
    if (!info.exists() || info.isDir() != folder)
        return QStringLiteral("--%1: %2 %3 не найден%4")
            .arg(QLatin1String(option), what, path, folder ? QStringLiteral("а") : QString());
    if (!info.isReadable())
        return QStringLiteral("--%1: %2 %3 не читается").arg(QLatin1String(option), what, path);
    return {};
}

// Empty when text is empty (the default stays) or a whole number in low..high.
QString number_error(const QString &text, int low, int high, int &out, const QString &error)
{
    if (text.isEmpty())
        return {};
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high)
        return error;
    out = v;
    return {};
}

QString url_error(MqttSettings &s, const QString &url)
{
    // SCHEME://HOST[:PORT][/]; HOST may be an IPv6 address in brackets.
    static const QRegularExpression form(
        QStringLiteral("^(mqtts?)://(\\[[0-9A-Fa-f:.]+\\]|[^:/@\\[\\]\\s]+)(?::(\\d{1,9}))?/?$"));
    const QRegularExpressionMatch m = form.match(url);
    if (!m.hasMatch())
        return QStringLiteral("адрес брокера «%1» не понят: нужен mqtt://HOST[:PORT] "
                              "или mqtts://HOST[:PORT]")
            .arg(url);
    s.tls = m.captured(1) == QLatin1String("mqtts");
    s.host = m.captured(2);
    if (s.host.startsWith(QLatin1Char('[')))
        s.host = s.host.mid(1, s.host.size() - 2);
    s.port = s.tls ? default_tls_port : default_port;
    if (m.hasCaptured(3)) {
        s.port = m.captured(3).toInt();
        if (s.port < 1 || s.port > 65535)
            return QStringLiteral("адрес брокера «%1»: порт %2 вне диапазона 1..65535")
                .arg(url, m.captured(3));
    }
    s.url = QStringLiteral("%1://%2:%3").arg(m.captured(1), m.captured(2), QString::number(s.port));
    return {};
}

QString tls_error(const MqttSettings &s, const MqttOptions &typed)
{
    const bool any = !typed.cafile.isEmpty() || !typed.capath.isEmpty() || !typed.cert.isEmpty() ||
                     !typed.key.isEmpty() || typed.insecure;
    if (!s.tls)
        return any ? QStringLiteral("--cafile, --capath, --cert, --key и --insecure "
                                    "действуют только с адресом mqtts://")
                   : QString();
    if (typed.cert.isEmpty() != typed.key.isEmpty())
        return QStringLiteral("--cert и --key задаются вместе");
    // libmosquitto takes a client certificate only beside an explicit CA.
    if (!typed.cert.isEmpty() && typed.cafile.isEmpty() && typed.capath.isEmpty())
        return QStringLiteral("с --cert нужен --cafile или --capath");
    const struct {
        const QString &path;
        const char *option;
        bool folder;
    } paths[] = {{typed.cafile, "cafile", false},
                 {typed.capath, "capath", true},
                 {typed.cert, "cert", false},
                 {typed.key, "key", false}};
    for (const auto &p : paths) {
        if (p.path.isEmpty())
            continue;
        if (QString e = path_error(p.path, p.option, p.folder); !e.isEmpty())
            return e;
    }
    return {};
}

// "U+0009": the first code point MQTT's UTF-8 leaves out (control
// characters, non-characters), as mosquitto_validate_utf8 judges.
QString first_unsendable(const QString &topic)
{
    for (const char32_t c : topic.toUcs4()) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        const bool non_character = (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
        if (control || non_character)
            return QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
    }
    return QStringLiteral("вне Юникода");
}

} // namespace

MqttSettingsResult mqtt_settings(const MqttOptions &typed)
{
    MqttSettingsResult r;
    MqttSettings &s = r.settings;
    if (typed.url.isEmpty()) {
        r.error = QStringLiteral("не задан брокер: --mqtt mqtt://HOST[:PORT]");
        return r;
    }
    r.error = url_error(s, typed.url);
    if (r.error.isEmpty())
        r.error = tls_error(s, typed);
    if (r.error.isEmpty() && !typed.password.isEmpty() && typed.username.isEmpty())
        r.error = QStringLiteral("пароль задан без имени пользователя (--username)");
    if (r.error.isEmpty())
        r.error = number_error(typed.qos, 0, 2, s.qos, QStringLiteral("--qos: нужно 0, 1 или 2"));
    if (r.error.isEmpty())
        r.error = number_error(typed.keepalive, 5, 65535, s.keepalive_s,
                               QStringLiteral("--keepalive: нужно целое число секунд "
                                              "от 5 до 65535"));
    if (!r.error.isEmpty())
        return r;
    s.username = typed.username;
    s.password = typed.password;
    s.cafile = typed.cafile;
    s.capath = typed.capath;
    s.cert = typed.cert;
    s.key = typed.key;
    s.insecure = typed.insecure;
    s.client_id = typed.id.isEmpty() ? default_client_id() : typed.id;
    return r;
}

QList<QCommandLineOption> mqtt_command_line_options()
{
    return {
        {"mqtt",
         "Брокер MQTT: mqtt://HOST[:PORT] (порт по умолчанию 1883) "
         "или mqtts://HOST[:PORT] (TLS, порт по умолчанию 8883).",
         "URL"},
        {{"u", "username"}, "Имя пользователя на брокере.", "USER"},
        {{"P", "pw"},
         "Пароль на брокере. Без него берётся из переменной окружения RZT_MQTT_PASSWORD.",
         "PASSWORD"},
        {"cafile", "mqtts: сертификаты удостоверяющих центров (по умолчанию системные).", "FILE"},
        {"capath", "mqtts: папка сертификатов удостоверяющих центров.", "DIR"},
        {"cert", "mqtts: сертификат клиента (вместе с --key).", "FILE"},
        {"key", "mqtts: закрытый ключ клиента.", "FILE"},
        {"insecure", "mqtts: не сверять имя брокера с его сертификатом."},
        {"id", "Идентификатор клиента MQTT (по умолчанию rzt604-<имя узла>-<PID>).", "ID"},
        {"qos", "Качество обслуживания MQTT: 0, 1 или 2 (по умолчанию 1).", "N"},
        {"keepalive", "Секунд между проверками связи с брокером (по умолчанию 60).", "SECONDS"},
    };
}

MqttOptions mqtt_options_from(const QCommandLineParser &p)
{
    MqttOptions o;
    o.url = p.value("mqtt");
    o.username = p.value("username");
    o.password = p.isSet("pw") ? p.value("pw") : qEnvironmentVariable("RZT_MQTT_PASSWORD");
    o.cafile = p.value("cafile");
    o.capath = p.value("capath");
    o.cert = p.value("cert");
    o.key = p.value("key");
    o.insecure = p.isSet("insecure");
    o.id = p.value("id");
    o.qos = p.value("qos");
    o.keepalive = p.value("keepalive");
    return o;
}

QString default_client_id()
{
    return QStringLiteral("rzt604-%1-%2")
        .arg(QSysInfo::machineHostName())
        .arg(QCoreApplication::applicationPid());
}

QString mqtt_topic_error(const QString &topic)
{
    const QByteArray bytes = topic.toUtf8();
    if (bytes.isEmpty())
        return QStringLiteral("пустая тема MQTT");
    if (bytes.size() > 65535)
        return QStringLiteral("тема MQTT длиннее 65535 байт");
    if (bytes.contains('\0') ||
        mosquitto_pub_topic_check2(bytes.constData(), bytes.size()) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("тема MQTT «%1» не годится для публикации: "
                              "знаки + и # бывают только в подписке")
            .arg(topic);
    // libmosquitto would refuse every message to such a topic at the moment
    // of sending.
    if (mosquitto_validate_utf8(bytes.constData(), int(bytes.size())) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("в теме MQTT знак %1, который MQTT не пересылает (управляющий или "
                              "не символ Юникода): уберите его")
            .arg(first_unsendable(topic));
    return {};
}
