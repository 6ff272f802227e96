#pragma once
// The real window over the real serial layer, talking to rzt604-sim on a
// pseudo-terminal that COM5 of its own тп.ini points at. Message boxes are
// answered Cancel and remembered, so a test can say none came up.

#include "event_wait.h"
#include "frm_main.h"
#include "message_box.h"
#include "qt_serial_port.h"

#include <QFile>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class SimWindowTest : public QObject {
protected:
    QTemporaryDir *m_dir = nullptr;
    QProcess *m_sim = nullptr;
    std::unique_ptr<FrmMain> m_win;
    QStringList m_boxes_shown;

    // For init().
    void catch_boxes()
    {
        m_boxes_shown.clear();
        message_box_fn() = [this](QWidget *, const QString &text, const QString &,
                                  QMessageBox::StandardButtons, QMessageBox::Icon) {
            m_boxes_shown.append(text);
            return QMessageBox::Cancel;
        };
    }

    // For cleanup(): the window first, then the simulator it talks to.
    void stop_all()
    {
        m_win.reset();
        if (m_sim != nullptr) {
            m_sim->terminate();
            if (!m_sim->waitForFinished(3000))
                m_sim->kill();
            m_sim->waitForFinished(3000);
        }
        delete m_sim;
        m_sim = nullptr;
        delete m_dir;
        m_dir = nullptr;
        message_box_fn() = nullptr;
    }

    // The simulator logs every frame (-v) on its standard error.
    void start(const QStringList &sim_options)
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        m_sim = new QProcess;
        m_sim->start(QStringLiteral(SIM_PATH),
                     QStringList{"-v", "--memory", m_dir->filePath(QStringLiteral("memory.bin"))} +
                         sim_options);
        QVERIFY2(m_sim->waitForStarted(event_wait_ms), qPrintable(m_sim->errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->canReadLine() || m_sim->state() != QProcess::Running,
                                 event_wait_ms);
        const QString pty = QString::fromLocal8Bit(m_sim->readLine()).trimmed();
        QVERIFY2(pty.startsWith(QLatin1Char('/')), qPrintable(m_sim->readAllStandardError()));

        const QString ini = m_dir->filePath(QStringLiteral("тп.ini"));
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[PC config]\r\nCOM=5\r\n[Ports]\r\nCOM5=" + pty.toLocal8Bit() + "\r\n");
        f.close();

        m_win = std::make_unique<FrmMain>(std::make_unique<QtSerialPort>(ini), ini);
        QVERIFY(m_win->Form_Load());
        QVERIFY2(m_boxes_shown.isEmpty(), qPrintable(m_boxes_shown.value(0)));
        QVERIFY(m_win->port().is_open());
    }
};
