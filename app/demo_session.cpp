#include "demo_session.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

namespace {

// The simulator prints its device at once; this only bounds a start on a
// machine whose cores are busy.
constexpr int start_wait_ms = 10000;
constexpr int stop_wait_ms = 3000;

#ifndef Q_OS_WIN
// COM1 of the run's тп.ini is the simulator's pseudo-terminal.
QByteArray demo_ini(const QString &device)
{
    return "[PC config]\r\nCOM=1\r\n[VRE config]\r\nMBSLAD=1\r\n[Ports]\r\nCOM1=" +
           device.toLocal8Bit() + "\r\n";
}
#endif

} // namespace

DemoSession::DemoSession() = default;

DemoSession::~DemoSession()
{
    if (m_sim && m_sim->state() != QProcess::NotRunning) {
        m_sim->terminate();
        if (!m_sim->waitForFinished(stop_wait_ms)) {
            m_sim->kill();
            m_sim->waitForFinished(stop_wait_ms);
        }
    }
}

QString DemoSession::find_simulator(const QString &program_dir)
{
    const QString name = QStringLiteral("/rzt604-sim");
    const QStringList folders = {
        program_dir, program_dir + QStringLiteral("/../libexec/rzt604-modbus"),
        program_dir + QStringLiteral("/../libexec"), program_dir + QStringLiteral("/../bin")};
    for (const QString &folder : folders) {
        const QFileInfo file(QDir::cleanPath(folder + name));
        if (file.isFile() && file.isExecutable())
            return file.absoluteFilePath();
    }
    return {};
}

bool DemoSession::start(const QString &program_dir, QString *why)
{
#ifdef Q_OS_WIN
    Q_UNUSED(program_dir);
    *why = QStringLiteral("Демонстрация в Windows недоступна: симулятору контроллера нужен "
                          "псевдотерминал, а в Windows их нет. Запустите её в Linux или "
                          "подключите контроллер через адаптер USB — RS-485.");
    return false;
#else
    const QString sim = find_simulator(program_dir);
    if (sim.isEmpty()) {
        *why = QStringLiteral("Для демонстрации нужен симулятор rzt604-sim, но его нет ни рядом "
                              "с программой (%1), ни в папках libexec и bin установки. "
                              "Переустановите пакет rzt604-modbus.")
                   .arg(QDir::toNativeSeparators(program_dir));
        return false;
    }
    m_dir =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/rzt604-demo-XXXXXX"));
    if (!m_dir->isValid()) {
        *why = QStringLiteral("Не создаётся временная папка для демонстрации в %1: %2")
                   .arg(QDir::toNativeSeparators(QDir::tempPath()), m_dir->errorString());
        return false;
    }
    m_sim = std::make_unique<QProcess>();
    // Standard output carries the device line only; the simulator's
    // complaints go where the program's own go.
    m_sim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef Q_OS_LINUX
    // A program that is killed takes its simulator with it.
    m_sim->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    m_sim->start(sim, {});
    const QDeadlineTimer deadline(start_wait_ms);
    while (!m_sim->canReadLine() && m_sim->state() != QProcess::NotRunning &&
           !deadline.hasExpired())
        m_sim->waitForReadyRead(int(deadline.remainingTime()));
    const QString device = QString::fromLocal8Bit(m_sim->readLine()).trimmed();
    if (!device.startsWith(QLatin1Char('/'))) {
        *why = QStringLiteral("Симулятор %1 не запустился: %2")
                   .arg(sim, m_sim->error() == QProcess::FailedToStart
                                 ? m_sim->errorString()
                                 : QStringLiteral("он не назвал свой псевдотерминал"));
        return false;
    }
    QFile ini(config_path());
    if (!ini.open(QIODevice::WriteOnly) || ini.write(demo_ini(device)) < 0 || !ini.flush()) {
        *why = QStringLiteral("Не записывается %1: %2").arg(ini.fileName(), ini.errorString());
        return false;
    }
    return true;
#endif
}

QString DemoSession::config_path() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("тп.ini")) : QString();
}

qint64 DemoSession::simulator_pid() const
{
    return m_sim && m_sim->state() == QProcess::Running ? m_sim->processId() : 0;
}
