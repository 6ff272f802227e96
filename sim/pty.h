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
    QString devicePath() const { return m_path; }
    void onReceived(std::function<void(const QByteArray &)> handler);
    // Writes what the pty takes without blocking; false if bytes were lost.
    bool write(const QByteArray &bytes);

    // Symbolic link linkPath -> device; a stale symbolic link is replaced,
    // any other file there is an error. Removed again by the destructor.
    bool makeLink(const QString &linkPath, QString *error);

private:
    void readAvailable();

    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    QString m_link;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void(const QByteArray &)> m_handler;
};

} // namespace sim
