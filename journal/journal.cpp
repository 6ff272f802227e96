#include "journal.h"

#include "config.h"
#include "os_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>

#ifdef Q_OS_WIN
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace {

// Long enough for another program's append, short enough for a stuck lock
// to be said rather than waited for.
constexpr int lock_wait_ms = 5000;

QString folder_problem(const QString &dir)
{
    if (!QDir().mkpath(dir))
        return QStringLiteral("папка %1 не создаётся").arg(QDir::toNativeSeparators(dir));
    if (!QFileInfo(dir).isWritable())
        return QStringLiteral("в папку %1 нельзя писать").arg(QDir::toNativeSeparators(dir));
    return {};
}

// One write of the whole line to a file opened for appending, then to disk.
QString append_line(const QString &path, const QByteArray &line)
{
#ifdef Q_OS_WIN
    const int fd = _wopen(reinterpret_cast<const wchar_t *>(path.utf16()),
                          _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
#endif
    if (fd < 0)
        return last_os_error_text();
    QString error;
#ifdef Q_OS_WIN
    const auto written = _write(fd, line.constData(), unsigned(line.size()));
    if (written != line.size() || _commit(fd) != 0)
        error = last_os_error_text();
    _close(fd);
#else
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    if (written != line.size()) {
        // A short write leaves a torn line; the reader skips it as damaged.
        error = written < 0 ? last_os_error_text() : os_error_text(ENOSPC);
    } else if (::fsync(fd) != 0) {
        error = last_os_error_text();
    }
    ::close(fd);
#endif
    return error;
}

} // namespace

QString journal_path_for(const QString &config_path)
{
    const QString dir = QFileInfo(config_path).absolutePath();
    const QString name = QStringLiteral("/journal.jsonl");
    if (QDir::cleanPath(dir) != QDir::cleanPath(user_config_folder()))
        return dir + name;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/rzt604-modbus") + name;
}

Journal::Journal(QString path, QObject *parent) : QObject(parent), m_path(std::move(path)) {}

QString Journal::check() const
{
    const QString problem = folder_problem(QFileInfo(m_path).absolutePath());
    if (!problem.isEmpty())
        return problem;
    const QFileInfo file(m_path);
    if (file.exists() && !file.isWritable())
        return QStringLiteral("в файл %1 нельзя писать").arg(QDir::toNativeSeparators(m_path));
    return {};
}

QString Journal::rotate_if_full(qint64 adding)
{
    const QFileInfo file(m_path);
    if (!file.exists() || file.size() + adding <= journal_rotate_bytes)
        return {};
    const QString stem = file.absolutePath() + QStringLiteral("/journal-") +
                         QDate::currentDate().toString(Qt::ISODate);
    QString target = stem + QStringLiteral(".jsonl");
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = stem + QStringLiteral("-%1.jsonl").arg(n);
    if (!QFile::rename(m_path, target))
        return QStringLiteral("журнал %1 не переименован в %2")
            .arg(QDir::toNativeSeparators(m_path), QDir::toNativeSeparators(target));
    return {};
}

QString Journal::append(const QJsonObject &record)
{
    const QString dir = QFileInfo(m_path).absolutePath();
    if (const QString problem = folder_problem(dir); !problem.isEmpty())
        return problem;
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    QLockFile lock(m_path + QStringLiteral(".lock"));
    lock.setStaleLockTime(30000);
    if (!lock.tryLock(lock_wait_ms)) {
        return lock.error() == QLockFile::LockFailedError
                   ? QStringLiteral("журнал занят другой программой дольше %1 с")
                         .arg(lock_wait_ms / 1000)
                   : QStringLiteral("замок журнала %1 не создаётся: %2")
                         .arg(QDir::toNativeSeparators(m_path + QStringLiteral(".lock")),
                              last_os_error_text());
    }
    if (const QString error = rotate_if_full(line.size()); !error.isEmpty())
        return error;
    if (const QString error = append_line(m_path, line); !error.isEmpty())
        return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(m_path), error);
    lock.unlock();
    emit appended(record);
    return {};
}
