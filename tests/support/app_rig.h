#pragma once
// The main window over a fake port, as the window suites drive it: message
// boxes answered without a person, modal port dialogs driven as they come
// up, and a window with its own configuration folder.

#include "fake_controller.h"
#include "fake_serial_port.h"
#include "frm_main.h"
#include "line_driver.h"
#include "message_box.h"
#include "wnd_set_com.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

struct Box {
    QString text, title;
};

// Answers every message box with the next prepared answer, recording it.
class BoxAnswers {
public:
    QList<Box> shown;
    QList<QMessageBox::StandardButton> answers;
    BoxAnswers()
    {
        message_box_fn() = [this](QWidget *, const QString &text, const QString &title,
                                  QMessageBox::StandardButtons, QMessageBox::Icon) {
            shown.append({text, title});
            return answers.isEmpty() ? QMessageBox::Cancel : answers.takeFirst();
        };
    }
    ~BoxAnswers() { message_box_fn() = nullptr; }
};

// Runs the given actions on the modal port dialogs as they come up.
class DialogDriver : public QObject {
public:
    QList<std::function<void(WndSetCom &)>> actions;
    int seen = 0;
    DialogDriver()
    {
        connect(&m_poll, &QTimer::timeout, this, [this] {
            auto *dlg = qobject_cast<WndSetCom *>(QApplication::activeModalWidget());
            if (dlg == nullptr || actions.isEmpty())
                return;
            ++seen;
            actions.takeFirst()(*dlg);
        });
        m_poll.start(5);
    }

private:
    QTimer m_poll;
};

// The operator's choice of item from the dialog's port list; false, and
// nothing chosen, when the list has no such item.
[[nodiscard]] inline bool choose(WndSetCom &dlg, const QString &item)
{
    auto *list = dlg.findChild<QComboBox *>(QStringLiteral("cmbCOMList"));
    const int i = list != nullptr ? list->findText(item) : -1;
    if (i < 0)
        return false;
    list->setCurrentIndex(i);
    emit list->activated(i);
    return true;
}

inline void click(WndSetCom &dlg, const char *name)
{
    dlg.findChild<QPushButton *>(QString::fromUtf8(name))->click();
}

struct Rig {
    QTemporaryDir dir;
    FakeSerialPort *port = nullptr;
    std::unique_ptr<FrmMain> w;
    FakeController controller;
    explicit Rig(std::initializer_list<int> free_ports = {1})
    {
        auto p = std::make_unique<FakeSerialPort>();
        p->make_free(free_ports);
        port = p.get();
        w = std::make_unique<FrmMain>(std::move(p), ini());
    }
    QString ini() const { return dir.filePath(QStringLiteral("тп.ini")); }
    // The controller answers every frame from now on, by the next tick.
    void connect_controller()
    {
        port->responder = [this](const QByteArray &frame) { return controller(frame); };
    }
    void ticks(int n)
    {
        for (int k = 0; k < n; ++k)
            LineDriver::tick(w->line());
    }
    // Start-up with the controller answering, until the three reads and a
    // poll are answered: every box green, every value shown. False when
    // Form_Load refused to start.
    [[nodiscard]] bool start_answered()
    {
        connect_controller();
        if (!w->Form_Load())
            return false;
        ticks(5);
        return true;
    }
    [[nodiscard]] bool write_ini(const QByteArray &text) const
    {
        QFile f(ini());
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    }
    QLineEdit *box(int i) const
    {
        return w->findChild<QLineEdit *>(QStringLiteral("txt_par_%1").arg(i));
    }
};

const QString busy_text =
    QStringLiteral("Порт COM%1 занят другим приложением\r\nВыберите другой порт");
const QString missing_text = QStringLiteral("Порт COM%1 не доступен\r\nВыберите другой порт");
