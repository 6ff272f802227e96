#include "trend_window.h"

#include "par_table.h"
#include "trend_chart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

namespace {

constexpr int redraw_ms = 500;

struct TimeWindow {
    const char *name;
    qint64 ms; // 0: everything held
};
const TimeWindow time_windows[] = {
    {"1 мин", 60'000}, {"10 мин", 600'000}, {"1 ч", 3'600'000}, {"Всё", 0}};

} // namespace

TrendWindow::TrendWindow(QWidget *parent) : QWidget(parent), m_chart(new TrendChart(this))
{
    setWindowFlag(Qt::Window);
    setObjectName(QStringLiteral("trend"));
    setWindowTitle(QStringLiteral("Тренд"));
    resize(900, 560);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(build_controls());
    layout->addWidget(m_chart, 1);
    m_redraw.setInterval(redraw_ms);
    connect(&m_redraw, &QTimer::timeout, this, &TrendWindow::redraw_tick);
    connect(&m_recorder, &CsvRecorder::failed, this, &TrendWindow::recording_failed);
    update_record_status();
}

// The recording ends with the window; a failure then has no one to tell.
TrendWindow::~TrendWindow()
{
    disconnect(&m_recorder, nullptr, this, nullptr);
    m_recorder.stop();
}

QWidget *TrendWindow::build_controls()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    for (int s = 0; s < trend_series; ++s) {
        auto *check = new QCheckBox(QString::fromUtf8(measured_fields[size_t(s)].caption), bar);
        check->setObjectName(QStringLiteral("chk_series_%1").arg(s));
        check->setChecked(true);
        connect(check, &QCheckBox::toggled, this, [this, s](bool on) {
            m_chart->set_series_visible(s, on);
            refresh();
        });
        row->addWidget(check);
        m_chk_series[size_t(s)] = check;
    }
    row->addStretch(1);
    m_cmb_window = new QComboBox(bar);
    m_cmb_window->setObjectName(QStringLiteral("cmb_window"));
    for (const TimeWindow &w : time_windows)
        m_cmb_window->addItem(QString::fromUtf8(w.name), w.ms);
    m_cmb_window->setCurrentIndex(1);
    connect(m_cmb_window, &QComboBox::currentIndexChanged, this, &TrendWindow::refresh);
    m_cmd_pause = new QPushButton(QStringLiteral("Пауза"), bar);
    m_cmd_pause->setObjectName(QStringLiteral("cmd_pause"));
    connect(m_cmd_pause, &QPushButton::clicked, this, &TrendWindow::cmd_pause_click);
    m_cmd_record = new QPushButton(bar);
    m_cmd_record->setObjectName(QStringLiteral("cmd_record"));
    connect(m_cmd_record, &QPushButton::clicked, this, &TrendWindow::cmd_record_click);
    m_lbl_record = new QLabel(bar);
    m_lbl_record->setObjectName(QStringLiteral("lbl_record"));
    row->addWidget(m_cmb_window);
    row->addWidget(m_cmd_pause);
    row->addWidget(m_cmd_record);
    row->addWidget(m_lbl_record);
    return bar;
}

void TrendWindow::add_measurement(const Measurement &m)
{
    if (!m.complete())
        return;
    if (m.time_ms == m_last.time_ms && m.registers == m_last.registers)
        return;
    m_last = m;
    m_buffer.add(m);
    m_recorder.append(m);
    m_dirty = true;
}

void TrendWindow::set_threshold(int index, int32_t raw)
{
    for (int which = 0; which < trend_limits; ++which) {
        if (trend_limit_parameter(which) == index) {
            m_chart->set_limit(which, par_value(index, raw));
            m_dirty = true;
        }
    }
}

void TrendWindow::clear_thresholds()
{
    m_chart->clear_limits();
    m_dirty = true;
}

void TrendWindow::refresh()
{
    const qint64 span = m_cmb_window->currentData().toLongLong();
    m_chart->show_from(m_buffer, span > 0 ? m_buffer.last_ms() - span : m_buffer.first_ms());
    m_dirty = false;
}

void TrendWindow::redraw_tick()
{
    if (m_dirty && !m_paused)
        refresh();
    if (m_recorder.recording())
        update_record_status();
}

void TrendWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_paused)
        refresh();
    m_redraw.start();
}

void TrendWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_redraw.stop();
}

void TrendWindow::cmd_pause_click()
{
    m_paused = !m_paused;
    m_cmd_pause->setText(m_paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    if (!m_paused)
        refresh();
}

bool TrendWindow::start_recording(const QString &path)
{
    const bool ok = m_recorder.start(path);
    update_record_status();
    return ok;
}

void TrendWindow::stop_recording()
{
    m_recorder.stop();
    update_record_status();
}

void TrendWindow::cmd_record_click()
{
    if (m_recorder.recording()) {
        stop_recording();
        return;
    }
    const QString name =
        QStringLiteral("trend-%1.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Запись в CSV"), name,
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (!start_recording(path))
        QMessageBox::critical(this, QStringLiteral("Тренд"), m_recorder.error());
}

void TrendWindow::update_record_status()
{
    const bool on = m_recorder.recording();
    m_cmd_record->setText(on ? QStringLiteral("Остановить запись")
                             : QStringLiteral("Запись в CSV…"));
    if (!on) {
        if (m_recorder.error().isEmpty())
            m_lbl_record->setText(m_recorder.path().isEmpty()
                                      ? QString()
                                      : QStringLiteral("Записано: %1, строк: %2")
                                            .arg(QFileInfo(m_recorder.path()).fileName())
                                            .arg(m_recorder.rows()));
        return;
    }
    const QTime elapsed = QTime(0, 0).addMSecs(int(m_recorder.elapsed_ms() % 86'400'000));
    const qint64 days = m_recorder.elapsed_ms() / 86'400'000;
    m_lbl_record->setStyleSheet(QString());
    m_lbl_record->setText(QStringLiteral("Запись: %1, строк: %2, %3%4")
                              .arg(QFileInfo(m_recorder.path()).fileName())
                              .arg(m_recorder.rows())
                              .arg(days > 0 ? QStringLiteral("%1 д ").arg(days) : QString())
                              .arg(elapsed.toString(QStringLiteral("HH:mm:ss"))));
}

// Shown without blocking: this runs inside the exchange's tick.
void TrendWindow::recording_failed(const QString &message)
{
    update_record_status();
    m_lbl_record->setStyleSheet(QStringLiteral("color: #b00000"));
    m_lbl_record->setText(QStringLiteral("Запись остановлена, строк: %1").arg(m_recorder.rows()));
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Тренд"), message,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
