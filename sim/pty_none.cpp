// Windows has no pseudo-terminals; the simulator serves a real port there.
#include "pty.h"

#include <QSocketNotifier>

namespace sim {

Pty::Pty() = default;
Pty::~Pty() = default;

bool Pty::open(QString *error)
{
    *error = QStringLiteral("в этой системе нет псевдотерминалов; задайте --device COMn");
    return false;
}

void Pty::on_received(std::function<void(const QByteArray &)> handler)
{
    m_handler = std::move(handler);
}

void Pty::read_available() {}

bool Pty::write(const QByteArray &)
{
    return false;
}

bool Pty::make_symlink(const QString &, QString *error)
{
    *error = QStringLiteral("в этой системе нет псевдотерминалов");
    return false;
}

} // namespace sim
