#include "monitor_window.h"

#include "message_box.h"
#include "tool_button.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

MonitorWindow::MonitorWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("monitor"));
    setWindowTitle(QStringLiteral("Монитор обмена"));

    m_pause = tool_button(this, "cmd_pause", QStringLiteral("&Пауза"));
    m_pause->setCheckable(true);
    auto *clear = tool_button(this, "cmd_clear", QStringLiteral("&Очистить"));
    auto *save = tool_button(this, "cmd_save", QStringLiteral("&Сохранить…"));
    auto *reset = tool_button(this, "cmd_reset", QStringLiteral("Сбросить с&чётчики"));
    m_saved = new QLabel(this);
    m_saved->setObjectName(QStringLiteral("lbl_saved"));
    m_saved->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path is cut at the window's edge rather than widening the window.
    m_saved->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {m_pause, clear, save, reset})
        buttons->addWidget(b);
    buttons->addWidget(m_saved, 1);

    m_counters = new QLabel(this);
    m_counters->setObjectName(QStringLiteral("lbl_counters"));
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("txt_lines"));
    m_text->setAccessibleName(QStringLiteral("Кадры обмена"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setMaximumBlockCount(TrafficLog::max_lines);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Nobody edits or reads these lines back: no undo history to grow.
    m_text->setUndoRedoEnabled(false);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_counters);
    layout->addWidget(m_text);
    // Wide enough for a whole reply to the poll with its verdict.
    resize(900, 440);
    show_counters();

    m_refresh = new QTimer(this);
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(refresh_ms);
    connect(m_refresh, &QTimer::timeout, this, [this] { flush(); });

    connect(m_pause, &QPushButton::toggled, this, [this](bool on) { m_log.set_paused(on); });
    connect(clear, &QPushButton::clicked, this, [this] {
        m_log.clear();
        m_pending.clear();
        m_text->clear();
    });
    connect(save, &QPushButton::clicked, this, [this] { ask_save(); });
    connect(reset, &QPushButton::clicked, this, [this] {
        m_log.reset_counters();
        show_counters();
    });
}

void MonitorWindow::add_exchange(const Exchange &exchange)
{
    show_later(m_log.add_exchange(exchange));
}

void MonitorWindow::add_reconnect()
{
    show_later(m_log.add_reconnect(QDateTime::currentMSecsSinceEpoch()));
}

void MonitorWindow::add_event(const QString &what)
{
    show_later(m_log.add_event(QDateTime::currentMSecsSinceEpoch(), what));
}

// Hidden, the window draws nothing: the lines wait, as many as the log
// keeps, until it is shown again.
void MonitorWindow::show_later(const QStringList &lines)
{
    m_pending += lines;
    if (!isVisible()) {
        if (m_pending.size() > TrafficLog::max_lines)
            m_pending.remove(0, m_pending.size() - TrafficLog::max_lines);
        return;
    }
    if (!m_refresh->isActive())
        m_refresh->start();
}

void MonitorWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    flush();
}

void MonitorWindow::flush()
{
    m_refresh->stop();
    if (m_pending.size() > TrafficLog::max_lines)
        m_pending.remove(0, m_pending.size() - TrafficLog::max_lines);
    // One append for the lot: the text keeps the same last lines as the log.
    if (!m_pending.isEmpty())
        m_text->appendPlainText(m_pending.join(QLatin1Char('\n')));
    m_pending.clear();
    show_counters();
}

void MonitorWindow::show_counters()
{
    m_counters->setText(m_log.counters_text());
}

void MonitorWindow::ask_save()
{
    FileChoice choice{
        true,
        QStringLiteral("Сохранить обмен"),
        QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*)"),
        QStringLiteral("обмен-%1.txt").arg(QDate::currentDate().toString(Qt::ISODate)),
        QStringLiteral("log"),
        QString()};
    const QString path = choose_file(this, choice);
    if (!path.isEmpty())
        save_to(path);
}

bool MonitorWindow::save_to(const QString &path)
{
    const QString error = m_log.save(path);
    if (error.isEmpty()) {
        m_saved->setText(QStringLiteral("Сохранено: ") + QDir::toNativeSeparators(path) +
                         QStringLiteral(" (строк: ") + QString::number(m_log.lines().size()) +
                         QLatin1Char(')'));
        m_saved->setToolTip(m_saved->text());
        return true;
    }
    m_saved->clear();
    message_box(this, QStringLiteral("Не удалось сохранить файл %1:\n%2").arg(path, error),
                windowTitle(), QMessageBox::Ok, QMessageBox::Critical);
    return false;
}

QString MonitorWindow::saved_note() const
{
    return m_saved->text();
}
