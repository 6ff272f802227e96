#include "config.h"
#include "frm_main.h"
#include "qt_serial_port.h"
#include "program_look.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    apply_program_look(app);
    const QString path = config_path();
    FrmMain window(std::make_unique<QtSerialPort>(path), path);
    if (!window.Form_Load())
        return 0;
    return app.exec();
}
