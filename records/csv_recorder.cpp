#include "csv_recorder.h"

#include "os_error.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A folder anyone may write in and only owners delete from (/tmp): another
// user may have planted a symbolic link there, to make us create or write a
// file of their choosing.
bool in_shared_folder(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat folder = {};
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    return ::stat(dir.constData(), &folder) == 0 && (folder.st_mode & S_ISVTX) &&
           (folder.st_mode & S_IWOTH);
#else
    Q_UNUSED(path);
    return false;
#endif
}

// Why a symbolic link may not be written through: none is in a shared folder,
// and a file is only ever replaced by its own name, as a symbolic link's
// target could be anyone's file.
QString symlink_refusal(const QString &path, CsvExisting existing)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return {};
    const QString name = QDir::toNativeSeparators(path);
    if (in_shared_folder(path))
        return QStringLiteral("%1 — символическая ссылка в общей папке; через неё файл не "
                              "пишется, укажите файл в своей папке")
            .arg(name);
    if (existing == CsvExisting::overwrite && info.exists())
        return QStringLiteral("%1 — символическая ссылка; файл, на который она ведёт, не "
                              "заменяется: укажите сам файл (%2)")
            .arg(name, QDir::toNativeSeparators(info.canonicalFilePath()));
    return {};
}

#ifdef Q_OS_UNIX
// The file opened for writing by the name given, never through a symbolic link
// put in its place after the checks (O_NOFOLLOW; O_EXCL for a new file), and
// emptied only once it is known to be a regular file. A symbolic link that
// passed symlink_refusal is followed. -1 with errno set on failure.
int open_for_writing(const QString &path, CsvExisting existing)
{
    const QByteArray name = QFile::encodeName(path);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (!QFileInfo(path).isSymLink())
        flags |= O_NOFOLLOW | (existing == CsvExisting::overwrite ? 0 : O_EXCL);
    const int fd = ::open(name.constData(), flags, 0666);
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        (existing == CsvExisting::overwrite && ::ftruncate(fd, 0) != 0)) {
        const int why = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        errno = why;
        return -1;
    }
    return fd;
}
#endif

} // namespace

CsvRecorder::CsvRecorder(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(m_flush_ms);
    connect(&m_timer, &QTimer::timeout, this, &CsvRecorder::flush);
}

CsvRecorder::~CsvRecorder()
{
    stop();
}

void CsvRecorder::set_flush_ms(int ms)
{
    m_flush_ms = ms;
    m_timer.setInterval(std::max(ms, 100));
}

bool CsvRecorder::start(const QString &path, CsvExisting existing)
{
    stop();
    m_error.clear();
    m_is_stdout = false;
    m_path = QFileInfo(path).absoluteFilePath();
    const QFileInfo info(path);
    m_error = symlink_refusal(path, existing);
    if (!m_error.isEmpty())
        return false;
    if (info.exists() && existing == CsvExisting::refuse) {
        m_error = QStringLiteral("Файл %1 уже есть; он не будет перезаписан").arg(path);
        return false;
    }
    if (info.exists() && !info.isFile()) {
        m_error = QStringLiteral("%1 — не обычный файл").arg(path);
        return false;
    }
    if (info.exists() && existing == CsvExisting::append)
        return open_existing(path);
    m_file.setFileName(path);
    // Unbuffered: every flush is one write() whose result we see, and the
    // file's size on disk is always known.
#ifdef Q_OS_UNIX
    const int fd = open_for_writing(path, existing);
    const bool opened = fd >= 0 && m_file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                                               QFileDevice::AutoCloseHandle);
    if (fd >= 0 && !opened)
        ::close(fd);
#else
    const bool opened =
        m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
#endif
    if (!opened) {
        m_error = QStringLiteral("Не удалось создать файл %1: %2").arg(path, last_os_error_text());
        return false;
    }
    m_bytes_written = 0;
    return begin(csv_header(m_layout));
}

// Appending keeps every whole row of the old file; a last row cut short (a
// crash, a full disk) is dropped so that the new rows start on a line of
// their own. The header must be this one: columns of another layout would
// be read under the wrong names.
bool CsvRecorder::open_existing(const QString &path)
{
    m_file.setFileName(path);
#ifdef Q_OS_UNIX
    // Not through a symbolic link put in its place since the checks.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CLOEXEC | (QFileInfo(path).isSymLink() ? 0 : O_NOFOLLOW));
    const bool opened = fd >= 0 && m_file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered,
                                               QFileDevice::AutoCloseHandle);
    if (fd >= 0 && !opened)
        ::close(fd);
#else
    const bool opened = m_file.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
#endif
    if (!opened) {
        m_error = QStringLiteral("Не удалось открыть файл %1: %2").arg(path, last_os_error_text());
        return false;
    }
    const QByteArray header = csv_header(m_layout);
    const QByteArray first = m_file.readLine(header.size() + 1);
    qint64 size = m_file.size();
    if (size > 0 && first != header) {
        m_error = QStringLiteral("В файле %1 другие столбцы; строки к нему не добавлены").arg(path);
        m_file.close();
        return false;
    }
    if (size > 0 && m_file.seek(size - 1) && m_file.read(1) != "\n") {
        // Back to just after the last line break.
        qint64 cut = size - 1;
        for (; cut > 0; --cut) {
            m_file.seek(cut - 1);
            if (m_file.read(1) == "\n")
                break;
        }
        size = cut;
        m_file.resize(size);
    }
    m_file.seek(size);
    m_bytes_written = size;
    return begin(size == 0 ? header : QByteArray());
}

bool CsvRecorder::start_stdout()
{
    stop();
    m_error.clear();
    m_is_stdout = true;
    m_path.clear();
    if (!m_file.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_error =
            QStringLiteral("Не удалось писать в стандартный вывод: %1").arg(last_os_error_text());
        return false;
    }
    m_bytes_written = 0;
    return begin(csv_header(m_layout));
}

bool CsvRecorder::begin(const QByteArray &header)
{
    m_rows = m_rows_written = 0;
    m_pending.clear();
    if (!header.isEmpty() && !write_all(header)) {
        m_error = QStringLiteral("Не удалось записать в файл %1: %2")
                      .arg(m_is_stdout ? QStringLiteral("stdout") : m_path, m_write_error);
        m_file.close();
        return false;
    }
    m_bytes_written += header.size();
    m_clock.start();
    m_timer.start();
    return true;
}

void CsvRecorder::stop()
{
    if (!recording())
        return;
    if (flush())
        m_file.close();
    m_timer.stop();
}

void CsvRecorder::append(const Measurement &m)
{
    if (!recording() || !m.complete())
        return;
    if (m_pending.isEmpty())
        m_pending_since_ms = m.time_ms;
    m_pending += csv_row(m, m_layout);
    ++m_rows;
    if (m.time_ms - m_pending_since_ms >= m_flush_ms)
        flush();
}

bool CsvRecorder::flush()
{
    if (!recording())
        return false;
    if (m_pending.isEmpty())
        return true;
    // A removed folder does not fail the write of a file that is still open
    // (on Linux it goes on into an unlinked file), so look for it.
    if (!m_is_stdout && !QFileInfo::exists(m_path)) {
        fail(QStringLiteral("Запись в CSV остановлена: файл %1 или его папка больше не существует.")
                 .arg(m_path));
        return false;
    }
    if (!write_all(m_pending)) {
        if (!m_is_stdout)
            m_file.resize(m_bytes_written); // drop a row cut short
        fail(QStringLiteral("Запись в CSV остановлена: не удалось записать в %1: %2. "
                            "Записанные строки (%3) сохранены.")
                 .arg(m_is_stdout ? QStringLiteral("стандартный вывод") : m_path, m_write_error,
                      QString::number(m_rows_written)));
        return false;
    }
    m_bytes_written += m_pending.size();
    m_rows_written = m_rows;
    m_pending.clear();
    return true;
}

bool CsvRecorder::write_all(const QByteArray &bytes)
{
    errno = 0;
    if (m_file.write(bytes) == bytes.size())
        return true;
    // Taken at once, before another call can change it: Qt's own text for a
    // full disk may read "Unknown error".
    m_write_error = errno != 0 ? last_os_error_text() : QStringLiteral("записано не всё");
    return false;
}

void CsvRecorder::fail(const QString &message)
{
    m_error = message;
    m_pending.clear();
    m_rows = m_rows_written;
    m_file.close();
    m_timer.stop();
    emit failed(message);
}
