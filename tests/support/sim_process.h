#pragma once
// rzt604-sim as the suites run it: a process of its own that logs every frame
// it receives on standard error (-v) and says on the first line of its
// standard output where it is to be reached. For the suites that define
// SIM_PATH.

#include "event_wait.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

// Where a started simulator is: its pseudo-terminal, its --link or --device,
// or mbtcp://127.0.0.1:PORT. Empty when it did not come up, with why in error.
struct SimStart {
    QString path;
    QString error;
};

// Starts the simulator with -v and the options and waits for its first line.
// Then standard error, the frame log, is the channel read, for sim_requests().
inline SimStart start_sim(QProcess &sim, const QStringList &options)
{
    sim.start(QStringLiteral(SIM_PATH), QStringList{QStringLiteral("-v")} + options);
    if (!sim.waitForStarted(event_wait_ms))
        return {{}, QStringLiteral("rzt604-sim did not start: ") + sim.errorString()};
    sim.setReadChannel(QProcess::StandardOutput);
    const QDeadlineTimer deadline(event_wait_ms);
    while (!sim.canReadLine() && sim.state() == QProcess::Running && !deadline.hasExpired())
        sim.waitForReadyRead(100);
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    sim.setReadChannel(QProcess::StandardError);
    if (path.isEmpty())
        return {{},
                QStringLiteral("rzt604-sim said nowhere to reach it: ") +
                    QString::fromLocal8Bit(sim.readAllStandardError())};
    return {path, {}};
}

// Requests the simulator has received since the last call, in order, as hex
// ("01 03 00 c8 00 0a 44 33"): its complete " rx " lines on standard error.
inline QStringList sim_requests(QProcess &sim)
{
    QStringList rx;
    while (sim.canReadLine()) {
        const QByteArray line = sim.readLine().trimmed();
        const qsizetype at = line.indexOf(" rx ");
        if (at >= 0)
            rx << QString::fromLatin1(line.mid(at + 4));
    }
    return rx;
}

// Ends a simulator, or any process a suite started: SIGTERM, so that it
// cleans up (a simulator removes its --link), and SIGKILL if that is not
// enough.
inline void stop_process(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(event_wait_ms))
        p.kill();
    p.waitForFinished(event_wait_ms);
}
