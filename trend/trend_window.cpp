#include "trend_window.h"

#include "par_table.h"
#include "trend_chart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Once a second at most: a live trend needs no more, and each redraw lays out
// the time axis anew.
constexpr int redraw_ms = 1000;

struct TimeWindow {
    const char *name;
    qint64 ms; // 0: everything held
};
const TimeWindow time_windows[] = {
    {"1 мин", 60'000}, {"10 мин", 600'000}, {"1 ч", 3'600'000}, {"Всё", 0}};

const char *const pointer_hint = "Колесо мыши или рамка, обведённая мышью, увеличивают участок";

// A button whose text changes keeps the width of the longer one, so the
// row never pushes the window wider.
QPushButton *two_text_button(const QString &a, const QString &b, QWidget *parent)
{
    auto *button = new QPushButton(b, parent);
    const int wide = button->sizeHint().width();
    button->setText(a);
    button->setMinimumWidth(std::max(wide, button->sizeHint().width()));
    return button;
}

} // namespace

TrendWindow::TrendWindow(QWidget *parent) : QWidget(parent), m_chart(new TrendChart(this))
{
    setWindowFlag(Qt::Window);
    setObjectName(QStringLiteral("trend"));
    setWindowTitle(QStringLiteral("Тренд"));
    resize(900, 600);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(build_series_row());
    layout->addWidget(build_command_row());
    layout->addWidget(m_chart, 1);
    layout->addWidget(build_status_row());
    m_redraw.setInterval(redraw_ms);
    connect(&m_redraw, &QTimer::timeout, this, &TrendWindow::redraw_tick);
    connect(&m_recorder, &CsvRecorder::failed, this, &TrendWindow::recording_failed);
    connect(m_chart, &TrendChart::zoom_requested, this, &TrendWindow::zoom_to);
    update_record_status();
}

// The recording ends with the window; a failure then has no one to tell.
TrendWindow::~TrendWindow()
{
    disconnect(&m_recorder, nullptr, this, nullptr);
    m_recorder.stop();
}

QWidget *TrendWindow::build_series_row()
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
    }
    row->addStretch(1);
    for (QWidget *w : view_commands(bar))
        row->addWidget(w);
    return bar;
}

QWidget *TrendWindow::build_command_row()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    auto *always = new QLabel(QStringLiteral("Всегда показывать:"), bar);
    row->addWidget(always);
    for (int l = 0; l < trend_limits; ++l) {
        auto *check = new QCheckBox(par_caption(trend_limit_parameter(l)), bar);
        check->setObjectName(QStringLiteral("chk_limit_%1").arg(l));
        check->setAccessibleName(always->text() + QLatin1Char(' ') + check->text());
        check->setToolTip(QStringLiteral("Без отметки линия видна, когда ток доходит до неё"));
        connect(check, &QCheckBox::toggled, this, [this, l](bool on) {
            m_chart->set_limit_asked(l, on);
            refresh();
        });
        row->addWidget(check);
    }
    row->addStretch(1);
    auto *image = new QPushButton(QStringLiteral("Сохранить изобра&жение…"), bar);
    image->setObjectName(QStringLiteral("cmd_image"));
    connect(image, &QPushButton::clicked, this, &TrendWindow::ask_save_image);
    m_cmd_record = two_text_button(QStringLiteral("&Запись в CSV…"),
                                   QStringLiteral("Остановить &запись"), bar);
    m_cmd_record->setObjectName(QStringLiteral("cmd_record"));
    connect(m_cmd_record, &QPushButton::clicked, this, &TrendWindow::toggle_recording);
    row->addWidget(image);
    row->addWidget(m_cmd_record);
    return bar;
}

QList<QWidget *> TrendWindow::view_commands(QWidget *bar)
{
    auto *caption = new QLabel(QStringLiteral("&Интервал:"), bar);
    m_cmb_window = new QComboBox(bar);
    m_cmb_window->setObjectName(QStringLiteral("cmb_window"));
    m_cmb_window->setAccessibleName(QStringLiteral("Интервал"));
    caption->setBuddy(m_cmb_window);
    for (const TimeWindow &w : time_windows)
        m_cmb_window->addItem(QString::fromUtf8(w.name), w.ms);
    m_cmb_window->setCurrentIndex(1);
    connect(m_cmb_window, &QComboBox::currentIndexChanged, this, &TrendWindow::reset_zoom);
    m_cmd_pause = two_text_button(QStringLiteral("&Пауза"), QStringLiteral("&Продолжить"), bar);
    m_cmd_pause->setObjectName(QStringLiteral("cmd_pause"));
    connect(m_cmd_pause, &QPushButton::clicked, this, &TrendWindow::toggle_pause);
    m_cmd_unzoom = new QPushButton(QStringLiteral("&Сбросить масштаб"), bar);
    m_cmd_unzoom->setObjectName(QStringLiteral("cmd_unzoom"));
    m_cmd_unzoom->setEnabled(false);
    connect(m_cmd_unzoom, &QPushButton::clicked, this, &TrendWindow::reset_zoom);
    return {caption, m_cmb_window, m_cmd_pause, m_cmd_unzoom};
}

// The values under the pointer, and the recording's state at the right.
QWidget *TrendWindow::build_status_row()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    m_lbl_cursor = new QLabel(QString::fromUtf8(pointer_hint), bar);
    m_lbl_cursor->setObjectName(QStringLiteral("lbl_cursor"));
    m_lbl_cursor->setAccessibleName(QStringLiteral("Значения под указателем"));
    // A long read-out is cut, never widens the window.
    m_lbl_cursor->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_lbl_cursor->setMinimumWidth(1);
    connect(m_chart, &TrendChart::pointed, this, [this](const QString &text) {
        m_lbl_cursor->setText(text.isEmpty() ? QString::fromUtf8(pointer_hint) : text);
    });
    m_lbl_record = new QLabel(bar);
    m_lbl_record->setObjectName(QStringLiteral("lbl_record"));
    m_lbl_record->setAccessibleName(QStringLiteral("Запись в CSV"));
    // Its text grows while recording; a fixed width keeps the window's.
    m_lbl_record->setFixedWidth(m_lbl_record->fontMetrics().horizontalAdvance(
        QStringLiteral("Запись: РЗТ604-адр247-2026-12-07, строк: 9999999, 00:00:00")));
    row->addWidget(m_lbl_cursor, 1);
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

// The span chosen, or what is held while that is less: the plot is filled
// from the first sample on.
qint64 TrendWindow::live_span() const
{
    const qint64 chosen = m_cmb_window->currentData().toLongLong();
    const qint64 held = m_buffer.last_ms() - m_buffer.first_ms();
    return chosen > 0 ? std::min(chosen, held) : held;
}

void TrendWindow::refresh()
{
    if (m_zoom)
        m_chart->show_range(m_buffer, m_zoom->first, m_zoom->second);
    else
        m_chart->show_range(m_buffer, m_buffer.last_ms() - live_span(), m_buffer.last_ms());
    m_drawn_ms = m_buffer.last_ms();
    m_dirty = false;
}

// A new sample moves the plot by span / width pixels: below one pixel the
// picture would not change, so the drawing waits for more.
void TrendWindow::redraw_tick()
{
    if (m_recorder.recording())
        update_record_status();
    if (!m_dirty || m_paused || m_zoom)
        return;
    const qint64 pixel_ms = 2 * live_span() / m_chart->max_points();
    if (m_buffer.last_ms() - m_drawn_ms >= pixel_ms)
        refresh();
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

void TrendWindow::toggle_pause()
{
    m_paused = !m_paused;
    m_cmd_pause->setText(m_paused ? QStringLiteral("&Продолжить") : QStringLiteral("&Пауза"));
    if (!m_paused)
        refresh();
}

void TrendWindow::zoom_to(qint64 from_ms, qint64 to_ms)
{
    if (m_buffer.empty())
        return;
    from_ms = std::max(from_ms, m_buffer.first_ms());
    to_ms = std::min(to_ms, m_buffer.last_ms());
    if (to_ms - from_ms < TrendChart::min_span_ms)
        return;
    m_zoom = {from_ms, to_ms};
    m_cmd_unzoom->setEnabled(true);
    refresh();
}

void TrendWindow::reset_zoom()
{
    m_zoom.reset();
    m_cmd_unzoom->setEnabled(false);
    refresh();
}
