#include "scan_window.h"

#include "line.h"
#include "registers.h"
#include "tool_button.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QSpinBox *address_box(QWidget *parent, const char *name, int value)
{
    auto *s = new QSpinBox(parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(1, 247);
    s->setValue(value);
    return s;
}

} // namespace

ScanWindow::ScanWindow(Line &line, QWidget *parent) : QWidget(parent, Qt::Window), m_line(line)
{
    setObjectName(QStringLiteral("scan"));
    setWindowTitle(QStringLiteral("Поиск устройства"));

    m_from = address_box(this, "spn_from", 1);
    m_from->setAccessibleName(QStringLiteral("Адреса с"));
    m_to = address_box(this, "spn_to", 247);
    m_to->setAccessibleName(QStringLiteral("Адреса по"));
    m_start = tool_button(this, "cmd_start", QStringLiteral("&Начать"));
    m_stop_button = tool_button(this, "cmd_stop", QStringLiteral("&Стоп"));
    m_choose = tool_button(this, "cmd_choose", QStringLiteral("&Выбрать"));
    auto *from_label = new QLabel(QStringLiteral("&Адреса с"), this);
    from_label->setBuddy(m_from);
    auto *to_label = new QLabel(QStringLiteral("п&о"), this);
    to_label->setBuddy(m_to);
    auto *range = new QHBoxLayout;
    range->addWidget(from_label);
    range->addWidget(m_from);
    range->addWidget(to_label);
    range->addWidget(m_to);
    range->addStretch();
    range->addWidget(m_start);
    range->addWidget(m_stop_button);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("prg_scan"));
    m_progress->setAccessibleName(QStringLiteral("Ход поиска"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("lst_found"));
    m_list->setAccessibleName(QStringLiteral("Найденные устройства"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({QStringLiteral("Адрес"), QStringLiteral("Версия протокола"),
                             QStringLiteral("Версия ПО"), QString()});
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lbl_status"));
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_choose);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(range);
    layout->addWidget(m_progress);
    layout->addWidget(m_list);
    layout->addLayout(bottom);
    resize(520, 320);

    connect(m_start, &QPushButton::clicked, this, [this] { start(); });
    connect(m_stop_button, &QPushButton::clicked, this, [this] { stop(); });
    connect(m_choose, &QPushButton::clicked, this, [this] { choose(); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { choose(); });
    connect(m_list, &QTreeWidget::currentItemChanged, this, [this] { update_buttons(); });
    update_buttons();
}

void ScanWindow::start()
{
    if (m_running)
        return;
    if (!m_line.port().is_open()) {
        m_status->setText(QStringLiteral("Порт закрыт: откройте его в «Настройка порта»"));
        return;
    }
    m_running = true;
    m_stop = false;
    m_hits.clear();
    m_list->clear();
    m_progress->setRange(m_from->value(), std::max(m_from->value(), m_to->value()));
    update_buttons();

    ScanOptions options;
    options.from = m_from->value();
    options.to = m_to->value();
    m_hits = m_line.scan(options, [this](int address) { return step(address); });

    m_running = false;
    m_progress->setValue(m_progress->maximum());
    show_hits();
    update_buttons();
}

bool ScanWindow::step(int address)
{
    m_progress->setValue(address);
    m_status->setText(QStringLiteral("Адрес %1…").arg(address));
    // Keeps the window drawn and the Stop button alive between two addresses.
    QCoreApplication::processEvents();
    return !m_stop;
}

void ScanWindow::show_hits()
{
    for (const ScanHit &hit : std::as_const(m_hits)) {
        const QString unknown = QStringLiteral("-");
        auto *item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::number(hit.address));
        item->setText(1, hit.versions_known ? version_text(hit.protocol) : unknown);
        item->setText(2, hit.versions_known ? version_text(hit.software) : unknown);
        if (hit.address > last_selectable)
            item->setText(3, QStringLiteral("нельзя выбрать: список адресов 0–127"));
        item->setData(0, Qt::UserRole, hit.address);
    }
    const QString found = m_hits.isEmpty()
                              ? QStringLiteral("Устройство не найдено")
                              : QStringLiteral("Найдено устройств: %1").arg(m_hits.size());
    m_status->setText(m_stop ? QStringLiteral("Остановлено. ") + found : found);
    if (!m_hits.isEmpty())
        m_list->setCurrentItem(m_list->topLevelItem(0));
}

void ScanWindow::choose()
{
    const QTreeWidgetItem *item = m_list->currentItem();
    if (m_running || item == nullptr)
        return;
    const int address = item->data(0, Qt::UserRole).toInt();
    if (address <= last_selectable)
        emit address_chosen(address);
}

void ScanWindow::update_buttons()
{
    const QTreeWidgetItem *item = m_list->currentItem();
    m_start->setEnabled(!m_running);
    m_stop_button->setEnabled(m_running);
    m_from->setEnabled(!m_running);
    m_to->setEnabled(!m_running);
    m_choose->setEnabled(!m_running && item != nullptr &&
                         item->data(0, Qt::UserRole).toInt() <= last_selectable);
}

// Enter starts the search, as the window's main command; on an address in
// the list it chooses that address, as a double click does, and on a
// button it presses that button.
void ScanWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (auto *button = qobject_cast<QPushButton *>(focusWidget()))
        button->click();
    else if (m_list->hasFocus() && m_list->currentItem() != nullptr)
        choose();
    else
        start();
}

void ScanWindow::closeEvent(QCloseEvent *event)
{
    // A scan in progress ends at the next address; the window only hides.
    m_stop = true;
    QWidget::closeEvent(event);
}
