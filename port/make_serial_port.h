#pragma once
// The serial port of this platform, for the programs' main(): the Win32 one
// on Windows, QSerialPort elsewhere.

#include "serial_port.h"

#include <QString>

#include <memory>

std::unique_ptr<SerialPort> make_serial_port(const QString &ini_path);
