#include "pty.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

QString sys_error(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

Pty::Pty() = default;

Pty::~Pty()
{
    m_notifier.reset();
    if (!m_symlink.isEmpty() && QFileInfo(m_symlink).symLinkTarget() == m_path)
        QFile::remove(m_symlink);
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool Pty::open(QString *error)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        *error = sys_error("posix_openpt");
        return false;
    }
    const char *name = ptsname(m_master);
    if (!name) {
        *error = sys_error("ptsname");
        return false;
    }
    m_path = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    termios tio{};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0) {
        *error = sys_error("open pty slave");
        return false;
    }
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    tcsetattr(m_slave, TCSANOW, &tio);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { read_available(); });
    return true;
}

void Pty::on_received(std::function<void(const QByteArray &)> handler)
{
    m_handler = std::move(handler);
}

void Pty::read_available()
{
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        if (m_handler)
            m_handler(QByteArray(buf, int(n)));
    }
}

bool Pty::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // nobody reads and the pty buffer is full
        done += n;
    }
    return true;
}

bool Pty::make_symlink(const QString &path, QString *error)
{
    const QFileInfo existing(path);
    if (existing.isSymLink()) {
        QFile::remove(path);
    } else if (existing.exists()) {
        *error = QStringLiteral("%1 уже есть, и это не символьная ссылка").arg(path);
        return false;
    }
    if (::symlink(QFile::encodeName(m_path).constData(), QFile::encodeName(path).constData()) !=
        0) {
        *error = sys_error(qPrintable(path));
        return false;
    }
    m_symlink = path;
    return true;
}

} // namespace sim
