#pragma once
// Port numbers 1..16 to device names. Windows uses "COMn" as it is; POSIX
// systems take a "COMn" entry of the "Ports" section when there is one and
// otherwise the usual USB, ACM and on-board device of that number.

#include <QString>

// Empty for numbers outside 1..16.
QString port_device_path(int n, const QString &ini_path);
