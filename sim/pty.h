#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace sim {

// Master side of a pseudo-terminal; the slave side is the device a Modbus
// master opens. We keep the slave side open ourselves so that the master side
// never sees a hang-up between clients.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool open(QString *error);
    QString device_path() const { return m_path; }
    void on_received(std::function<void(const QByteArray &)> handler);
    // Writes what the pty takes without blocking; false if bytes were lost.
    bool write(const QByteArray &bytes);

    // A symbolic link path -> device; a stale symbolic link is replaced, any
    // other file there is an error. Removed again by the destructor.
    bool make_symlink(const QString &path, QString *error);

private:
    void read_available();

    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    QString m_symlink;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void(const QByteArray &)> m_handler;
};

} // namespace sim
