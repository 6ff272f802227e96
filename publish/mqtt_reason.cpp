#include "mqtt_reason.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace {

QString errno_text(int err)
{
    switch (err) {
    case ECONNREFUSED:
        return QStringLiteral("соединение отвергнуто (брокер не запущен?)");
    case ETIMEDOUT:
        return QStringLiteral("нет ответа");
    case EHOSTUNREACH:
        return QStringLiteral("узел недостижим");
    case ENETUNREACH:
        return QStringLiteral("сеть недостижима");
    case ECONNRESET:
    case EPIPE:
        return QStringLiteral("соединение разорвано");
    default:
        return QString::fromLocal8Bit(std::strerror(err));
    }
}

} // namespace

QString mqtt_failure_text(int rc, int err, const QString &detail)
{
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return errno_text(err);
    case MOSQ_ERR_CONN_LOST:
        return QStringLiteral("соединение разорвано");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("брокер перестал отвечать");
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return detail.isEmpty() ? QStringLiteral("ошибка TLS")
                                : QStringLiteral("ошибка TLS: %1").arg(detail);
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_LOOKUP:
        return QStringLiteral("имя узла не найдено");
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_MALFORMED_PACKET:
        return QStringLiteral("брокер нарушил протокол MQTT");
    case MOSQ_ERR_NOMEM:
        return QStringLiteral("не хватает памяти");
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

QString mqtt_refusal_text(int connack_code)
{
    switch (connack_code) {
    case 1:
        return QStringLiteral("брокер не поддерживает MQTT 3.1.1");
    case 2:
        return QStringLiteral("брокер отверг идентификатор клиента");
    case 3:
        return QStringLiteral("брокер не принимает соединения");
    case 4:
        return QStringLiteral("неверное имя пользователя или пароль");
    case 5:
        return QStringLiteral("нет прав на соединение");
    default:
        return QStringLiteral("брокер отказал в соединении (код %1)").arg(connack_code);
    }
}

QString mqtt_login_refusal(int connack_code)
{
    switch (connack_code) {
    case 2:
        return QStringLiteral("брокер отверг идентификатор клиента: задайте другой в --id");
    case 4:
        return QStringLiteral("неверное имя пользователя или пароль: проверьте --username и "
                              "пароль (-P или RZT_MQTT_PASSWORD)");
    case 5:
        return QStringLiteral("нет прав на подключение: проверьте --username и пароль (-P или "
                              "RZT_MQTT_PASSWORD) и права этого пользователя на брокере");
    default:
        return {};
    }
}
