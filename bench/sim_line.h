#pragma once
// The simulator on a pseudo-terminal for a benchmark: started from beside
// the benchmark's own executable, with a тп.ini whose COM5 is its pty.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

class SimLine {
public:
    explicit SimLine(const QStringList &options)
    {
        m_sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/rzt604-sim"),
                    QStringList{"--memory", m_dir.filePath(QStringLiteral("memory.bin"))} +
                        options);
        if (!m_sim.waitForStarted(5000) || !m_sim.waitForReadyRead(10000))
            fail("the simulator did not start");
        const QByteArray pty = m_sim.readLine().trimmed();
        QFile ini(ini_path());
        if (!pty.startsWith('/') || !ini.open(QIODevice::WriteOnly))
            fail("no pseudo-terminal from the simulator");
        ini.write("[PC config]\r\nCOM=5\r\n[Ports]\r\nCOM5=" + pty + "\r\n");
        m_pty = QString::fromLocal8Bit(pty);
    }
    ~SimLine()
    {
        m_sim.terminate();
        m_sim.waitForFinished(3000);
    }

    QString ini_path() const { return m_dir.filePath(QStringLiteral("тп.ini")); }
    QString pty() const { return m_pty; }

private:
    [[noreturn]] static void fail(const char *why)
    {
        std::fprintf(stderr, "bench: %s\n", why);
        std::exit(1);
    }

    QTemporaryDir m_dir;
    QProcess m_sim;
    QString m_pty;
};
