#pragma once
// A pseudo-terminal pair with both ends raw, as a serial line is.

#include <QString>

#include <pty.h>
#include <termios.h>

inline bool open_raw_pty(int &master, int &slave, QString &slave_path)
{
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    for (int fd : {master, slave}) {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    slave_path = QString::fromLocal8Bit(name);
    return true;
}
