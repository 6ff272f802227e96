#include "mqtt_tls.h"

#include <QFile>
#include <QHostAddress>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

QString openssl_reason()
{
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    const char *reason = e ? ERR_reason_error_string(e) : nullptr;
    return reason ? QString::fromUtf8(reason) : QStringLiteral("неизвестная ошибка");
}

// Certificates of those who sign the broker's: the files given, or the
// system's store (SSL_CERT_FILE and SSL_CERT_DIR honoured, as OpenSSL does).
QString load_authorities(SSL_CTX *ctx, const MqttSettings &s)
{
    if (s.cafile.isEmpty() && s.capath.isEmpty())
        return SSL_CTX_set_default_verify_paths(ctx) == 1
                   ? QString()
                   : QStringLiteral("системные сертификаты удостоверяющих центров не "
                                    "читаются (%1); укажите их в --cafile")
                         .arg(openssl_reason());
    const QByteArray file = QFile::encodeName(s.cafile), path = QFile::encodeName(s.capath);
    if (SSL_CTX_load_verify_locations(ctx, file.isEmpty() ? nullptr : file.constData(),
                                      path.isEmpty() ? nullptr : path.constData()) == 1)
        return {};
    return QStringLiteral("сертификаты удостоверяющих центров из %1 не приняты (%2): нужен "
                          "файл PEM")
        .arg(s.cafile.isEmpty() ? s.capath : s.cafile, openssl_reason());
}

QString load_client_certificate(SSL_CTX *ctx, const MqttSettings &s)
{
    if (s.cert.isEmpty())
        return {};
    const QByteArray cert = QFile::encodeName(s.cert), key = QFile::encodeName(s.key);
    if (SSL_CTX_use_certificate_chain_file(ctx, cert.constData()) != 1)
        return QStringLiteral("--cert: сертификат из %1 не принят (%2): нужен файл PEM")
            .arg(s.cert, openssl_reason());
    if (SSL_CTX_use_PrivateKey_file(ctx, key.constData(), SSL_FILETYPE_PEM) != 1)
        return QStringLiteral("--key: ключ из %1 не принят (%2): нужен файл PEM без пароля")
            .arg(s.key, openssl_reason());
    if (SSL_CTX_check_private_key(ctx) != 1)
        return QStringLiteral("--key: ключ %1 не от сертификата %2").arg(s.key, s.cert);
    return {};
}

} // namespace

std::unique_ptr<MqttTls> MqttTls::make(const MqttSettings &s, QString &error)
{
    std::unique_ptr<MqttTls> tls(new MqttTls);
    tls->m_ctx = SSL_CTX_new(TLS_client_method());
    if (!tls->m_ctx) {
        error = QStringLiteral("TLS недоступен: %1").arg(openssl_reason());
        return nullptr;
    }
    SSL_CTX *ctx = tls->m_ctx;
    tls->m_host = s.host;
    tls->m_own_ca = !s.cafile.isEmpty() || !s.capath.isEmpty();
    const bool address = !QHostAddress(s.host).isNull();
    if (!address)
        tls->m_server_name = s.host.toUtf8();
    SSL_CTX_set_app_data(ctx, tls.get());
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &MqttTls::on_verify);
    SSL_CTX_set_info_callback(ctx, &MqttTls::on_info);
    if (!s.insecure) {
        X509_VERIFY_PARAM *param = SSL_CTX_get0_param(ctx);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        const QByteArray host = s.host.toUtf8();
        const int set = address ? X509_VERIFY_PARAM_set1_ip_asc(param, host.constData())
                                : X509_VERIFY_PARAM_set1_host(param, host.constData(), 0);
        if (set != 1) {
            error =
                QStringLiteral("имя брокера %1 не годится для проверки сертификата").arg(s.host);
            return nullptr;
        }
    }
    error = load_authorities(ctx, s);
    if (error.isEmpty())
        error = load_client_certificate(ctx, s);
    return error.isEmpty() ? std::move(tls) : nullptr;
}

MqttTls::~MqttTls()
{
    // libmosquitto holds a reference of its own until the client is destroyed.
    SSL_CTX_free(m_ctx);
}

int MqttTls::on_verify(int ok, X509_STORE_CTX *store)
{
    if (ok)
        return ok;
    auto *ssl =
        static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto *tls = ssl ? static_cast<MqttTls *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr;
    if (tls && tls->m_verify_error == 0)
        tls->m_verify_error = X509_STORE_CTX_get_error(store);
    return ok;
}

void MqttTls::on_info(const SSL *ssl, int where, int)
{
    // Before the first message is made: libmosquitto named the address.
    if (!(where & SSL_CB_HANDSHAKE_START))
        return;
    auto *s = const_cast<SSL *>(ssl);
    const auto *tls = static_cast<const MqttTls *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(s)));
    if (!tls)
        return;
    // None for an address, which a name may not be.
    char *name =
        tls->m_server_name.isEmpty() ? nullptr : const_cast<char *>(tls->m_server_name.constData());
    SSL_set_tlsext_host_name(s, name);
}

QString MqttTls::certificate_problem() const
{
    switch (m_verify_error) {
    case 0:
        return {};
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return QStringLiteral("сертификат брокера выдан не на имя %1: укажите в адресе имя из "
                              "сертификата (или --insecure, чтобы имя не сверялось)")
            .arg(m_host);
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return QStringLiteral("срок действия сертификата брокера истёк: его нужно обновить на "
                              "брокере (и проверить часы этой машины)");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return QStringLiteral("сертификат брокера ещё не действует: проверьте часы этой машины");
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return m_own_ca ? QStringLiteral("сертификат брокера подписан не тем удостоверяющим "
                                         "центром, что в --cafile или --capath: укажите там "
                                         "сертификат центра, которым он подписан")
                        : QStringLiteral("сертификат брокера подписан удостоверяющим центром, "
                                         "которого нет среди системных: укажите сертификат "
                                         "этого центра в --cafile");
    default:
        return QStringLiteral("сертификат брокера не прошёл проверку (%1)")
            .arg(QString::fromUtf8(X509_verify_cert_error_string(m_verify_error)));
    }
}

QString mqtt_client_certificate_refusal(const QString &openssl_error, bool have_cert)
{
    // "error:0A000412:SSL routines::sslv3 alert bad certificate"; "tlsv13
    // alert certificate required" when none was sent.
    static const char *const alerts[] = {
        "alert bad certificate",        "alert unknown ca",          "alert certificate required",
        "alert certificate unknown",    "alert certificate revoked", "alert certificate expired",
        "alert unsupported certificate"};
    for (const char *alert : alerts) {
        if (!openssl_error.contains(QLatin1String(alert)))
            continue;
        return have_cert ? QStringLiteral("брокер не принял сертификат клиента (%1): нужен "
                                          "сертификат в --cert, которому брокер доверяет")
                               .arg(openssl_error)
                         : QStringLiteral("брокер требует сертификат клиента: задайте его в "
                                          "--cert и ключ в --key");
    }
    return {};
}
