#pragma once
// One local zone with no summer time (UTC+3), so that expected local times
// and their offsets hold all year; set before the application starts.

#include <QByteArray>
#include <QtGlobal>

inline void use_fixed_zone()
{
#ifdef Q_OS_WIN
    qputenv("TZ", "MSK-3"); // the C runtime's form
#else
    qputenv("TZ", "Europe/Moscow");
#endif
}
