#include "config.h"
#include "demo_session.h"
#include "frm_main.h"
#include "message_box.h"
#include "program_look.h"
#include "serial_port_factory.h"
#include "stop_signal.h"
#include "version.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>

namespace {

bool has_option(int argc, char *argv[], const char *option)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0)
            return true;
    }
    return false;
}

// Answered before QApplication exists, so that they work without a display.
bool answer_option(int argc, char *argv[])
{
    if (has_option(argc, argv, "--version")) {
        std::printf("rzt604-modbus %s\n", RZT_VERSION);
        return true;
    }
    if (has_option(argc, argv, "--help") || has_option(argc, argv, "-h")) {
        std::printf("Использование: rzt604-modbus [--demo] [--version] [--help] [параметры Qt]\n"
                    "Сервисная программа контроллера РЗТ-604Д (ведущее устройство Modbus RTU):\n"
                    "текущие значения, уставки в памяти контроллера, файлы параметров, отчёт,\n"
                    "тренд и журнал изменений.\n"
                    "\n"
                    "  --demo       показать программу в работе: она запускает свой симулятор\n"
                    "               контроллера rzt604-sim и говорит с ним только в этот раз;\n"
                    "               ваш тп.ini не читается и не меняется (кроме Windows)\n"
                    "  --version    напечатать версию и выйти\n"
                    "  -h, --help   напечатать эту справку и выйти\n"
                    "\n"
                    "Остальные параметры получает Qt, например -platform offscreen.\n"
                    "Где лежит файл настроек тп.ini и что в нём: man rzt604-modbus.\n");
        return true;
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
    // SIGTERM (a logout, systemctl, kill) and Ctrl+C in the terminal end the
    // program as closing its window does: every event loop, a message box's
    // too, returns, and the window closes its port and the port's lock file.
    bool stopping = false;
    stop_on_signals(&app, [&stopping] {
        stopping = true;
        QCoreApplication::exit(0);
    });
    // Declared before the window, so that the window closes its port before
    // the simulator behind it ends.
    DemoSession demo;
    const bool demonstrating = has_option(argc, argv, "--demo");
    QString path;
    if (demonstrating) {
        QString why;
        if (!demo.start(QCoreApplication::applicationDirPath(), &why)) {
            // Also for a terminal, where a box on a display nobody sees would wait.
            std::fprintf(stderr, "rzt604-modbus: %s\n", qPrintable(why));
            message_box(nullptr, why, QStringLiteral("Демонстрация"), QMessageBox::Ok,
                        QMessageBox::Critical);
            return 1;
        }
        path = demo.config_path();
    } else {
        path = config_path();
    }
    FrmMain window(make_serial_port(path), path);
    if (demonstrating)
        window.set_demo();
    if (!window.Form_Load() || stopping)
        return 0;
    return app.exec();
}
