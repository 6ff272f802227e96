#pragma once
// "Монитор обмена": every frame on the line as it goes, with the counters.
// Fed by the master's exchanged signal; it never touches the port.

#include "traffic_log.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

class MonitorWindow : public QWidget {
    Q_OBJECT

public:
    explicit MonitorWindow(QWidget *parent = nullptr);

    const TrafficLog &log() const { return m_log; }
    // Writes the lines held to path; a message box says why when it cannot.
    bool save_to(const QString &path);
    // Shows the lines and counters not yet shown. The window does this on
    // its own a few times a second rather than repainting at every tick.
    void flush();

    static constexpr int refresh_ms = 500;

    // Where the last save went ("Сохранено: …"), or empty.
    QString saved_note() const;

public slots:
    void add_exchange(const Exchange &exchange);
    void add_reconnect();
    // A line for what the line did between exchanges (port lost, search).
    void add_event(const QString &what);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void show_later(const QStringList &lines);
    void show_counters();
    void ask_save();

    TrafficLog m_log;
    QLabel *m_counters = nullptr;
    QLabel *m_saved = nullptr;
    QPlainTextEdit *m_text = nullptr;
    QPushButton *m_pause = nullptr;
    QStringList m_pending;
    QTimer *m_refresh = nullptr;
};
