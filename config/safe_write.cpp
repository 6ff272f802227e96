#include "safe_write.h"

#include "os_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Beside the target, so that the rename stays on one file system; a name
// that is taken is never opened, so an existing file cannot be overwritten.
bool open_new_beside(QFile &temp, const QString &target)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const quint32 tag = QRandomGenerator::global()->generate();
        temp.setFileName(target + QStringLiteral(".%1.tmp").arg(tag, 8, 16, QLatin1Char('0')));
        if (temp.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
        // The look for a taken name must not hide why the open failed.
        const int why = errno;
        if (!temp.exists()) {
            errno = why;
            return false;
        }
    }
    return false;
}

bool sync_to_disk(QFile &f)
{
#ifdef Q_OS_WIN
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(f.handle()))) != 0;
#else
    return ::fsync(f.handle()) == 0;
#endif
}

// A short write, a failed flush (where a full disk usually shows), a failed
// sync and a failed close are all failures.
bool fill(QFile &temp, const QByteArray &data, QFileDevice::Permissions permissions)
{
    if (permissions && !temp.setPermissions(permissions))
        return false;
    if (temp.write(data) != data.size() || !temp.flush() || !sync_to_disk(temp))
        return false;
    temp.close();
    return temp.error() == QFileDevice::NoError;
}

bool rename_over(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    const QString f = QDir::toNativeSeparators(from), t = QDir::toNativeSeparators(to);
    return MoveFileExW(reinterpret_cast<const wchar_t *>(f.utf16()),
                       reinterpret_cast<const wchar_t *>(t.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

// The rename is only durable once the folder that holds the name is synced.
// Windows has no such step: MOVEFILE_WRITE_THROUGH waits for the rename.
bool sync_folder(const QString &folder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return true;
#else
    const QByteArray name = QFile::encodeName(folder);
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // File systems that cannot sync a folder say EINVAL; the rename is then
    // as safe as they make it.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
#endif
}

// A symbolic link planted in a shared folder (/tmp: world-writable, sticky)
// by someone else must not make a save overwrite what it points to; the
// kernel's protected_symlinks rule, applied to every save: such a link is
// followed only when it belongs to the saving user or to the folder's owner.
bool planted_symlink(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return false;
#else
    struct stat entry = {};
    struct stat folder = {};
    const QByteArray name = QFile::encodeName(path);
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::lstat(name.constData(), &entry) != 0 || !S_ISLNK(entry.st_mode) ||
        ::stat(dir.constData(), &folder) != 0)
        return false;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return shared && entry.st_uid != ::geteuid() && entry.st_uid != folder.st_uid;
#endif
}

// The system's reason for the step that just failed, in our words.
QString failure_reason(const QFile &f)
{
#ifdef Q_OS_WIN
    return f.errorString();
#else
    Q_UNUSED(f);
    return last_os_error_text();
#endif
}

QFileDevice::Permissions kept_permissions(const QFileInfo &old)
{
    // The "User" flags describe the running user, not the file.
    constexpr auto for_running_user =
        QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    return old.exists() ? old.permissions() & ~for_running_user : QFileDevice::Permissions();
}

} // namespace

bool replace_file(const QString &path, const QByteArray &data, QString *why)
{
    const auto failed = [why](const QString &reason) {
        if (why != nullptr)
            *why = reason;
        return false;
    };
    const QFileInfo info(path);
    if (planted_symlink(path))
        return failed(QStringLiteral("это символическая ссылка чужого пользователя в общей папке"));
    const QString target = info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
    QFile temp;
    if (!open_new_beside(temp, target))
        return failed(failure_reason(temp));
    if (!fill(temp, data, kept_permissions(QFileInfo(target))) ||
        !rename_over(temp.fileName(), target)) {
        const QString reason = failure_reason(temp);
        temp.close();
        QFile::remove(temp.fileName());
        return failed(reason);
    }
    // The new contents are in place; false from here on only says that they
    // may not survive a power cut.
    return sync_folder(QFileInfo(target).absolutePath()) || failed(last_os_error_text());
}
