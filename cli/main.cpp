// rzt604-cli: the controller from a shell or a script, on the same core as
// the window (the master, its exchange cycle, the parameter files), with no
// display needed.

#include "cli_args.h"
#include "commands.h"
#include "qt_russian.h"
#include "version.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // The text is UTF-8: the console shows it as such, and the bytes on
    // stdout are those of every other platform (no CR added before LF).
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rzt604-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RZT_VERSION));
    install_qt_russian(app);
    return run_command(parse_args(QCoreApplication::arguments()));
}
