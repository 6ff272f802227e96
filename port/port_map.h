#pragma once
// Port numbers 1..16 to device names. A "COMn" entry of the "Ports" section
// may name a serial device server (tcp://HOST:PORT) or a Modbus TCP device or
// gateway (mbtcp://HOST[:PORT]). Otherwise Windows uses "COMn" as it is;
// POSIX systems take the entry when there is one and else the usual USB, ACM
// and on-board device of that number.

#include <QString>

// Empty for numbers outside 1..16.
QString port_device_path(int n, const QString &ini_path);
