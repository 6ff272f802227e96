// rzt604-cli: the controller from a shell or a script, on the same core as
// the window (the master, its exchange cycle, the parameter files), with no
// display needed.

#include "cli_args.h"
#include "commands.h"
#include "qt_russian.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rzt604-cli"));
    install_qt_russian(app);
    return run_command(parse_args(QCoreApplication::arguments()));
}
