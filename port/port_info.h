#pragma once
// What the system knows about a serial device, for telling one adapter from
// another in the port dialog: the device path, the USB description,
// manufacturer and serial number, and the stable names in /dev/serial/by-id
// (on Windows: what its device manager says of the COM port).

#include <QString>
#include <QStringList>

// udev's folder of symbolic links named after the adapter's make and serial number.
inline const QString serial_by_id_dir = QStringLiteral("/dev/serial/by-id");

// The symbolic links in by_id_dir that lead to the same device as
// device_path (itself a device node or a symbolic link to one), as full paths
// in name order.
QStringList by_id_names(const QString &device_path, const QString &by_id_dir = serial_by_id_dir);

// One line each: the path, the device it leads to when that differs, then
// whatever of description, manufacturer, serial number, USB ids and by-id
// names the system knows.
QString port_tooltip(const QString &device_path, const QString &by_id_dir = serial_by_id_dir);
