#include "journal_window.h"

#include "journal.h"
#include "measurement_csv.h"
#include "message_box.h"
#include "safe_write.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

JournalWindow::JournalWindow(Journal &journal, QWidget *parent)
    : QWidget(parent, Qt::Window), m_journal(journal)
{
    setObjectName(QStringLiteral("wnd_journal"));
    setWindowTitle(QStringLiteral("Журнал изменений"));
    m_address = new QComboBox(this);
    m_address->setObjectName(QStringLiteral("cmb_address"));
    m_address->setAccessibleName(QStringLiteral("Адрес"));
    m_period = new QCheckBox(QStringLiteral("За &период"), this);
    m_period->setObjectName(QStringLiteral("chk_period"));
    m_from = new QDateEdit(QDate::currentDate().addDays(-30), this);
    m_to = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit *d : {m_from, m_to}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setEnabled(false);
    }
    m_from->setObjectName(QStringLiteral("dt_from"));
    m_to->setObjectName(QStringLiteral("dt_to"));
    auto *save = new QPushButton(QStringLiteral("&Экспорт в CSV…"), this);
    save->setObjectName(QStringLiteral("cmd_export"));

    auto *filters = new QHBoxLayout;
    auto *address_label = new QLabel(QStringLiteral("&Адрес:"), this);
    address_label->setBuddy(m_address);
    filters->addWidget(address_label);
    filters->addWidget(m_address);
    filters->addSpacing(12);
    filters->addWidget(m_period);
    filters->addWidget(m_from);
    filters->addWidget(new QLabel(QStringLiteral("—"), this));
    filters->addWidget(m_to);
    filters->addStretch(1);
    filters->addWidget(save);

    m_table = new QTableWidget(this);
    m_table->setObjectName(QStringLiteral("tbl_journal"));
    m_table->setColumnCount(int(journal_columns.size()));
    QStringList head;
    for (const JournalColumn &c : journal_columns)
        head << QString::fromUtf8(c.caption);
    m_table->setHorizontalHeaderLabels(head);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_notes = new QLabel(this);
    m_notes->setObjectName(QStringLiteral("lbl_notes"));
    m_notes->setWordWrap(true);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_notes);
    resize(900, 420);

    connect(m_address, &QComboBox::currentIndexChanged, this, &JournalWindow::show_rows);
    connect(m_period, &QCheckBox::toggled, this, [this](bool on) {
        m_from->setEnabled(on);
        m_to->setEnabled(on);
        show_rows();
    });
    connect(m_from, &QDateEdit::dateChanged, this, &JournalWindow::show_rows);
    connect(m_to, &QDateEdit::dateChanged, this, &JournalWindow::show_rows);
    connect(save, &QPushButton::clicked, this, &JournalWindow::export_csv);
    // An intent and its outcome come a moment apart: one reading for both.
    connect(&m_journal, &Journal::appended, this, [this] {
        if (m_reload_queued || !isVisible())
            return;
        m_reload_queued = true;
        QTimer::singleShot(200, this, &JournalWindow::reload);
    });
    reload();
}

void JournalWindow::reload()
{
    m_reload_queued = false;
    const JournalRead read = read_journal(m_journal.path());
    QList<int> addresses;
    for (const JournalEntry &e : read.entries) {
        if (!addresses.contains(journal_address(e)))
            addresses << journal_address(e);
    }
    std::sort(addresses.begin(), addresses.end());
    const QString chosen = m_address->currentText();
    m_address->blockSignals(true);
    m_address->clear();
    m_address->addItem(QStringLiteral("все"));
    for (int a : std::as_const(addresses))
        m_address->addItem(QString::number(a));
    m_address->setCurrentIndex(std::max(0, m_address->findText(chosen)));
    m_address->blockSignals(false);
    m_notes->setText(read.notes.isEmpty() ? QString()
                                          : QStringLiteral("Не прочитано: ") +
                                                read.notes.join(QStringLiteral("; ")));
    m_all = read.entries;
    show_rows();
}

void JournalWindow::show_rows()
{
    const bool one_address = m_address->currentIndex() > 0;
    const int address = m_address->currentText().toInt();
    const QDateTime from = m_from->date().startOfDay();
    const QDateTime to = m_to->date().endOfDay();
    m_shown.clear();
    for (auto it = m_all.crbegin(); it != m_all.crend(); ++it) {
        if (one_address && journal_address(*it) != address)
            continue;
        const QDateTime t = journal_time(*it);
        if (m_period->isChecked() && (t < from || t > to))
            continue;
        m_shown << *it;
    }
    m_table->setRowCount(int(m_shown.size()));
    for (int row = 0; row < m_shown.size(); ++row) {
        for (size_t col = 0; col < journal_columns.size(); ++col)
            m_table->setItem(row, int(col),
                             new QTableWidgetItem(journal_columns[col].text(m_shown[row])));
    }
    m_table->resizeColumnsToContents();
}

void JournalWindow::export_csv()
{
    const CsvLayout sheet = spreadsheet_csv_layout();
    FileChoice choice{
        true,
        QStringLiteral("Экспорт журнала"),
        plain_csv_filter() + QStringLiteral(";;") + spreadsheet_csv_filter(sheet),
        QStringLiteral("журнал-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate)),
        QStringLiteral("csv"),
        QString()};
    const QString path = choose_file(this, choice);
    if (path.isEmpty())
        return;
    const CsvLayout layout =
        choice.chosen_filter == spreadsheet_csv_filter(sheet) ? sheet : CsvLayout{};
    const QByteArray csv =
        journal_csv(m_shown, layout.separator, layout.decimal, layout.spreadsheet);
    QString why;
    if (!replace_file(path, csv, &why))
        message_box(this, QStringLiteral("Журнал не сохранён: ") + why, windowTitle(),
                    QMessageBox::Ok, QMessageBox::Critical);
    else
        m_notes->setText(QStringLiteral("Сохранено в ") + QDir::toNativeSeparators(path));
}
