#pragma once
// The real window over the real serial layer, talking to rzt604-sim on a
// pseudo-terminal that COM5 of its own тп.ini points at. Message boxes are
// answered Cancel and remembered, so a test can say none came up.

#include "event_wait.h"
#include "frm_main.h"
#include "message_box.h"
#include "qt_serial_port.h"
#include "sim_process.h"

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
    QString m_start_error; // why start() failed

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
        if (m_sim != nullptr)
            stop_process(*m_sim);
        delete m_sim;
        m_sim = nullptr;
        delete m_dir;
        m_dir = nullptr;
        message_box_fn() = nullptr;
    }

    // The simulator with sim_options, and the window started over it with no
    // message box and its port open; false with why in m_start_error when
    // any of it did not come up.
    [[nodiscard]] bool start(const QStringList &sim_options)
    {
        m_dir = new QTemporaryDir;
        if (!m_dir->isValid())
            return failed(QStringLiteral("no temporary folder: ") + m_dir->errorString());
        m_sim = new QProcess;
        const SimStart sim = start_sim(
            *m_sim,
            QStringList{"--memory", m_dir->filePath(QStringLiteral("memory.bin"))} + sim_options);
        if (!sim.error.isEmpty())
            return failed(sim.error);
        if (!sim.path.startsWith(QLatin1Char('/')))
            return failed(QStringLiteral("rzt604-sim is on no pseudo-terminal: ") + sim.path);

        const QString ini = m_dir->filePath(QStringLiteral("тп.ini"));
        QFile f(ini);
        const QByteArray text =
            "[PC config]\r\nCOM=5\r\n[Ports]\r\nCOM5=" + sim.path.toLocal8Bit() + "\r\n";
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            return failed(ini + QStringLiteral(" not written: ") + f.errorString());
        f.close();

        m_win = std::make_unique<FrmMain>(std::make_unique<QtSerialPort>(ini), ini);
        if (!m_win->Form_Load())
            return failed(QStringLiteral("Form_Load refused: ") + m_boxes_shown.join(" | "));
        if (!m_boxes_shown.isEmpty())
            return failed(QStringLiteral("a message box: ") + m_boxes_shown.first());
        if (!m_win->port().is_open())
            return failed(QStringLiteral("the port is not open"));
        return true;
    }

private:
    bool failed(const QString &why)
    {
        m_start_error = why;
        return false;
    }
};
