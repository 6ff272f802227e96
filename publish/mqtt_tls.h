#pragma once
// TLS for the publisher: an OpenSSL context made here and handed to
// libmosquitto as complete, so that it uses it as it is for every
// connection. Two things need it:
// - libmosquitto 2.0.11 keeps the context it made itself for the first
//   connection and, with the system's certificates (no --cafile), refuses it
//   on every reconnection ("invalid function arguments");
// - the publisher connects to one address of the broker's name at a time, so
//   libmosquitto only sees the address: the name the certificate must carry
//   and the name sent for virtual hosting (SNI) are set here.
// The handshake's verdict on the broker's certificate is kept, to tell a
// certificate that is not trusted from a broker that is away.

#include "mqtt_settings.h"

#include <QByteArray>
#include <QString>

#include <memory>

class MqttTls {
public:
    // Null, with error set in Russian, when a file cannot be used.
    static std::unique_ptr<MqttTls> make(const MqttSettings &settings, QString &error);
    ~MqttTls();
    MqttTls(const MqttTls &) = delete;
    MqttTls &operator=(const MqttTls &) = delete;

    // The SSL_CTX for MOSQ_OPT_SSL_CTX.
    void *context() const { return m_ctx; }
    // Before each connection attempt.
    void forget_verdict() { m_verify_error = 0; }
    // Why the last handshake did not trust the broker, with what to fix; empty
    // when nothing was found wrong with its certificate.
    QString certificate_problem() const;

private:
    MqttTls() = default;
    static int on_verify(int ok, struct x509_store_ctx_st *store);
    static void on_info(const struct ssl_st *ssl, int where, int ret);

    struct ssl_ctx_st *m_ctx = nullptr;
    QByteArray m_server_name; // empty for an address
    QString m_host;
    bool m_own_ca = false; // --cafile or --capath, not the system's store
    int m_verify_error = 0;
};

// The broker's refusal of our own certificate, from the alert OpenSSL
// logged; empty for any other TLS failure.
QString mqtt_client_certificate_refusal(const QString &openssl_error, bool have_cert);
