// "О программе": what an engineer asked on the telephone needs to know —
// which version, on which Qt, which configuration file and which device.
// F1 for the operator's guide and Ctrl+Q to quit, from any of the program's
// windows.

#include "frm_main.h"

#include "message_box.h"
#include "operator_guide.h"
#include "port_map.h"
#include "version.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMenuBar>
#include <QUrl>

void FrmMain::add_about_menu()
{
    QAction *about = menuBar()->addAction(QStringLiteral("&О программе"));
    about->setObjectName(QStringLiteral("mnu_about"));
    connect(about, &QAction::triggered, this, &FrmMain::mnu_about_Click);

    auto *guide = new QAction(this);
    guide->setObjectName(QStringLiteral("key_guide"));
    guide->setShortcut(QKeySequence(Qt::Key_F1));
    auto *quit = new QAction(this);
    quit->setObjectName(QStringLiteral("key_quit"));
    // Not QKeySequence::Quit, which Windows leaves empty.
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    for (QAction *key : {guide, quit}) {
        key->setShortcutContext(Qt::ApplicationShortcut);
        addAction(key);
    }
    connect(guide, &QAction::triggered, this, &FrmMain::key_guide_Click);
    connect(quit, &QAction::triggered, this, &QWidget::close);
}

void FrmMain::key_guide_Click()
{
    const QString guide = operator_guide_path(QCoreApplication::applicationDirPath());
    if (!guide.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(guide)))
        return;
    message_box(this, operator_guide_text(guide), QStringLiteral("Руководство оператора"),
                QMessageBox::Ok, QMessageBox::Information);
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
                             : QStringLiteral("Порт COM%1: %2").arg(n).arg(device)) +
           QStringLiteral("\n\nРуководство оператора — F1, выход — Ctrl+Q");
}

void FrmMain::mnu_about_Click()
{
    message_box(this, about_text(), QStringLiteral("О программе"), QMessageBox::Ok,
                QMessageBox::Information);
}
