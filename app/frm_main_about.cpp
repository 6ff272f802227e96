// "О программе": what an engineer asked on the telephone needs to know —
// which version, on which Qt, which configuration file and which device.

#include "frm_main.h"

#include "message_box.h"
#include "port_map.h"
#include "version.h"

#include <QMenuBar>

void FrmMain::add_about_menu()
{
    QAction *about = menuBar()->addAction(QStringLiteral("&О программе"));
    about->setObjectName(QStringLiteral("mnu_about"));
    connect(about, &QAction::triggered, this, &FrmMain::mnu_about_Click);
}

QString FrmMain::about_text() const
{
    const int n = m_line.com_port();
    const QString device = port_device_path(n, m_line.config_path());
    return windowTitle() + QLatin1Char('\n') +
           QStringLiteral("Версия %1\n").arg(QStringLiteral(RZT_VERSION)) +
           QStringLiteral("Qt %1\n").arg(QString::fromLatin1(qVersion())) +
           (m_demo ? QStringLiteral("Файл конфигурации на время демонстрации: %1\n")
                   : QStringLiteral("Файл конфигурации: %1\n"))
               .arg(m_line.config_path()) +
           (device.isEmpty() ? QStringLiteral("Порт не выбран")
                             : QStringLiteral("Порт COM%1: %2").arg(n).arg(device));
}

void FrmMain::mnu_about_Click()
{
    message_box(this, about_text(), QStringLiteral("О программе"), QMessageBox::Ok,
                QMessageBox::Information);
}
