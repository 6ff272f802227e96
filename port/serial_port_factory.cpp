#include "serial_port_factory.h"

#include "qt_serial_port.h"

std::unique_ptr<SerialPort> make_serial_port(const QString &ini_path)
{
    return std::make_unique<QtSerialPort>(ini_path);
}
