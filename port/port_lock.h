#pragma once
// The lock file Qt's serial port takes for a device (/run/lock/LCK..ttyUSB0),
// found the way QSerialPort finds it, and what it says about its holder: a
// port refused because of such a file is named with it, so that a file left
// behind by a process that is gone can be recognised and removed.

#include <QString>

// The name under /dev of the device a path leads to, found by its device
// number: through symbolic links (/dev/serial/by-id/..., a simulator's
// --link) and other nodes of the same device, so that every name of one
// device takes the one lock file other programs look for (LCK..ttyUSB0). The
// path as it is when it is no character device or no such name is found,
// and on Windows.
QString port_device_node(const QString &path);

// Where QSerialPort keeps the lock of this device, opened by the name
// port_device_node gives: the first lock folder that
// can be read and either holds the file or can take it. Empty when none
// qualifies, and on Windows, which locks ports itself.
QString port_lock_file(const QString &device);

// What stands in the lock file: "pid", then the program's name and the host.
struct PortLockHolder {
    qint64 pid = 0;
    QString program;
    QString host;
    bool gone = false; // no such process on this machine any more
};

// The holder named in the lock file; pid 0 when the file is missing or says
// no process.
PortLockHolder port_lock_holder(const QString &lock_file);

// Why a port whose lock file is held cannot be opened, in the program's
// words: "файл блокировки /run/lock/LCK..ttyUSB0 оставлен процессом 1234,
// которого нет; удалите этот файл" or "его держит процесс minicom, PID 1234;
// файл блокировки …".
QString port_lock_text(const QString &lock_file, const PortLockHolder &holder);
