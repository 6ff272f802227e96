#include "make_serial_port.h"

#ifdef Q_OS_WIN
#include "win_serial_port.h"
#else
#include "qt_serial_port.h"
#endif

std::unique_ptr<SerialPort> make_serial_port(const QString &ini_path)
{
#ifdef Q_OS_WIN
    return std::make_unique<WinSerialPort>(ini_path);
#else
    return std::make_unique<QtSerialPort>(ini_path);
#endif
}
