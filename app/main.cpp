#include "config.h"
#include "frm_main.h"
#include "make_serial_port.h"
#include "program_look.h"
#include "version.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>

namespace {

// Answered before QApplication exists, so that they work without a display.
bool answer_option(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("rzt604-modbus %s\n", RZT_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: rzt604-modbus [--version] [--help] [Qt options]\n"
                        "Service tool for the RZT-604D controller (Modbus RTU master).\n"
                        "Configuration file: see rzt604-modbus(1).\n");
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (answer_option(argc, argv))
        return 0;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rzt604-modbus"));
    QApplication::setApplicationVersion(QStringLiteral(RZT_VERSION));
    // Ties the window to the desktop entry and its icon on Wayland and X11.
    QGuiApplication::setDesktopFileName(QStringLiteral("ru.rzt604.modbus"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("ru.rzt604.modbus")));
    apply_program_look(app);
    const QString path = config_path();
    FrmMain window(make_serial_port(path), path);
    if (!window.Form_Load())
        return 0;
    return app.exec();
}
