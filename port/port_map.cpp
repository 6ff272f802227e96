#include "port_map.h"

#include "config.h"
#include "mbtcp_serial_port.h"
#include "serial_port.h"
#include "tcp_serial_port.h"

QString port_device_path(int n, const QString &ini_path)
{
    if (n < first_port_number || n > last_port_number)
        return {};
    const QString com = QStringLiteral("COM%1").arg(n);
    const QString mapped = read_ini_string(ini_path, QStringLiteral("Ports"), com, QString());
#ifdef Q_OS_WIN
    // Windows names its serial ports itself; an entry only names a device
    // server or a Modbus TCP device.
    return is_tcp_device(mapped) || is_mbtcp_device(mapped) ? mapped : com;
#else
    if (!mapped.isEmpty())
        return mapped;
    // USB adapters first, so the usual one is COM1 with no editing.
    if (n <= 8)
        return QStringLiteral("/dev/ttyUSB%1").arg(n - 1);
    if (n <= 12)
        return QStringLiteral("/dev/ttyACM%1").arg(n - 9);
    return QStringLiteral("/dev/ttyS%1").arg(n - 13);
#endif
}
