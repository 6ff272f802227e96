#include "port_lock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// QSerialPort's search order on Unix (Qt 6.4).
const char *const lock_folders[] = {
    "/var/lock", "/etc/locks", "/var/spool/locks",  "/var/spool/uucp",
    "/tmp",      "/var/tmp",   "/var/lock/lockdev", "/run/lock",
};
#endif

// As QLockFile judges it: the process is there and, where its program can
// be seen, it is the one that took the lock (the number may have been
// given to another one since).
bool process_exists(qint64 pid, const QString &program)
{
#ifdef Q_OS_UNIX
    // EPERM: there is such a process, of another user.
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return false;
#ifdef Q_OS_LINUX
    // A process that ended but was never waited for (a zombie) holds nothing.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const qsizetype after_name = line.lastIndexOf(") ");
        if (after_name >= 0 && line.mid(after_name + 2, 1) == "Z")
            return false;
    }
    const QString exe =
        QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget().section('/', -1);
    if (!exe.isEmpty() && !program.isEmpty())
        return exe == program;
#endif
#endif
    Q_UNUSED(pid);
    Q_UNUSED(program);
    return true;
}

#ifdef Q_OS_UNIX
bool same_device(const QString &path, dev_t device)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode) &&
           st.st_rdev == device;
}

// The kernel's own name for a device number, where the system lists it
// (USB, ACM and on-board ports; not pseudo-terminals).
QString kernel_node(dev_t device)
{
    QFile uevent(
        QStringLiteral("/sys/dev/char/%1:%2/uevent").arg(major(device)).arg(minor(device)));
    if (!uevent.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : uevent.read(4096).split('\n')) {
        if (line.startsWith("DEVNAME="))
            return QStringLiteral("/dev/") + QString::fromUtf8(line.mid(8));
    }
    return {};
}

// A node of that number in the folders where devices are, for one made
// elsewhere (mknod) or through a symbolic link outside /dev.
QString node_in_dev(dev_t device)
{
    for (const char *folder : {"/dev/pts", "/dev"}) {
        const QDir dir(QString::fromLatin1(folder));
        for (const QString &name : dir.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString path = dir.filePath(name);
            if (!QFileInfo(path).isSymLink() && same_device(path, device))
                return path;
        }
    }
    return {};
}
#endif

} // namespace

QString port_device_node(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return path;
    if (const QString node = kernel_node(st.st_rdev);
        !node.isEmpty() && same_device(node, st.st_rdev))
        return node;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.startsWith(QLatin1String("/dev/")))
        return canonical;
    const QString node = node_in_dev(st.st_rdev);
    return node.isEmpty() ? path : node;
#else
    return path;
#endif
}

QString port_lock_file(const QString &path)
{
#ifdef Q_OS_UNIX
    // The port's name as QSerialPort has it ("ttyUSB0" for /dev/ttyUSB0, the
    // path itself for anything else), with its slashes made underscores.
    const QString device = port_device_node(path);
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *folder : lock_folders) {
        const QString dir = QString::fromLatin1(folder);
        const QFileInfo info(dir);
        const QString path = dir + QStringLiteral("/LCK..") + name;
        if (info.isReadable() && (QFile::exists(path) || info.isWritable()))
            return path;
    }
#else
    Q_UNUSED(path);
#endif
    return {};
}

PortLockHolder port_lock_holder(const QString &lock_file)
{
    PortLockHolder holder;
    QFile f(lock_file);
    if (!f.open(QIODevice::ReadOnly))
        return holder;
    // Qt writes three lines; older tools a pid alone, padded with blanks.
    const QList<QByteArray> lines = f.read(4096).split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
    if (!ok || pid <= 0)
        return holder;
    holder.pid = pid;
    holder.program = QString::fromUtf8(lines.value(1).trimmed());
    holder.host = QString::fromUtf8(lines.value(2).trimmed());
    const bool here = holder.host.isEmpty() || holder.host == QSysInfo::machineHostName();
    holder.gone = here && !process_exists(pid, holder.program);
    return holder;
}

QString port_lock_text(const QString &lock_file, const PortLockHolder &holder)
{
    // Concatenated, not substituted: the device's name is part of the path.
    const QString file = QStringLiteral("файл блокировки ") + lock_file;
    const QString pid = QString::number(holder.pid);
    if (holder.pid == 0)
        return file;
    if (holder.gone)
        return file + QStringLiteral(" оставлен процессом ") + pid +
               QStringLiteral(", которого нет; удалите этот файл");
    QString who = QStringLiteral("процесс ");
    if (!holder.program.isEmpty())
        who += holder.program + QStringLiteral(", ");
    who += QStringLiteral("PID ") + pid;
    if (!holder.host.isEmpty() && holder.host != QSysInfo::machineHostName())
        who += QStringLiteral(" на ") + holder.host;
    return QStringLiteral("его держит ") + who + QStringLiteral("; ") + file;
}
