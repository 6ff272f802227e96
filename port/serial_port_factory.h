#pragma once
// The serial port the program and rzt604-cli talk through, for this
// platform. ini_path: the configuration file whose "Ports" section maps
// port numbers to devices.

#include "serial_port.h"

#include <QString>

#include <memory>

std::unique_ptr<SerialPort> make_serial_port(const QString &ini_path);
