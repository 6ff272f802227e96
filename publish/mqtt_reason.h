#pragma once
// Why a connection to the broker failed or ended, in Russian, from
// libmosquitto's result codes.

#include <QString>

// rc is a MOSQ_ERR_* code; err the errno that came with MOSQ_ERR_ERRNO;
// detail the last error libmosquitto logged (OpenSSL's reason for a TLS
// failure), added where it says more than the code.
QString mqtt_failure_text(int rc, int err, const QString &detail = {});
// The broker's refusal in its CONNACK (MQTT 3.1.1 return codes).
QString mqtt_refusal_text(int connack_code);
// What retrying cannot mend, with what to fix: CONNACK 2 (the client id),
// 4 (user name or password) and 5 (not authorised). Empty for others.
QString mqtt_login_refusal(int connack_code);
