#pragma once
// "Журнал изменений": the journal of setting changes as a table, newest
// first, filtered by address and by day, with an export to CSV. A write's
// row comes up as its intent is appended and completes with its outcome.

#include "journal.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QTableWidget;

class JournalWindow : public QWidget {
    Q_OBJECT

public:
    explicit JournalWindow(Journal &journal, QWidget *parent = nullptr);

    // Reads the journal again and shows what the filters let through.
    void reload();
    void export_csv();
    const QList<JournalEntry> &shown() const { return m_shown; }

private:
    void show_rows();

    Journal &m_journal;
    QComboBox *m_address = nullptr;
    QCheckBox *m_period = nullptr;
    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
    QTableWidget *m_table = nullptr;
    QLabel *m_notes = nullptr;
    bool m_reload_queued = false;
    QList<JournalEntry> m_all;   // oldest first, as read
    QList<JournalEntry> m_shown; // newest first, as the table shows them
};
