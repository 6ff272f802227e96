#pragma once
// "Поиск устройства": asks every address in a range on the line's port and
// lists the ones that answer, with their versions. The line pauses its
// polling while the scan owns the port; the request ring is untouched.

#include "scan.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class Line;
class QTreeWidget;

class ScanWindow : public QWidget {
    Q_OBJECT

public:
    explicit ScanWindow(Line &line, QWidget *parent = nullptr);

    // Scans the range set in the window; returns when it is done or stopped.
    void start();
    void stop() { m_stop = true; }
    bool running() const { return m_running; }
    const QList<ScanHit> &hits() const { return m_hits; }

    // Highest address the main window's address list holds.
    static constexpr int last_selectable = 127;

signals:
    // The operator picked an answering address.
    void address_chosen(int address);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool step(int address);
    void show_hits();
    void choose();
    void update_buttons();

    Line &m_line;
    QList<ScanHit> m_hits;
    bool m_running = false;
    bool m_stop = false;

    QSpinBox *m_from = nullptr;
    QSpinBox *m_to = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_stop_button = nullptr;
    QPushButton *m_choose = nullptr;
    QProgressBar *m_progress = nullptr;
    QTreeWidget *m_list = nullptr;
    QLabel *m_status = nullptr;
};
