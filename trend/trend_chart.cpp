#include "trend_chart.h"

#include "par_table.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QColor series_colors[trend_series] = {QColor(0xd6, 0xa0, 0x00), QColor(0x2c, 0xa0, 0x2c),
                                            QColor(0xd6, 0x27, 0x28), QColor(0x1f, 0x77, 0xb4),
                                            QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b)};
const QColor limit_colors[trend_limits] = {QColor(0xff, 0x7f, 0x0e), QColor(0xb0, 0x00, 0x00)};

QValueAxis *value_axis(const char *title, const char *format)
{
    auto *axis = new QValueAxis;
    axis->setTitleText(QString::fromUtf8(title));
    axis->setLabelFormat(QString::fromLatin1(format));
    return axis;
}

} // namespace

// Our chart goes in at construction: a view made without one makes its own,
// and setChart() only releases that one, never deletes it.
TrendChart::TrendChart(QWidget *parent) : QChartView(new QChart, parent), m_chart(chart())
{
    setObjectName(QStringLiteral("trend_chart"));
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    for (int s = 0; s < trend_series; ++s) {
        auto *series = new QLineSeries;
        series->setName(field_caption(measured_fields[size_t(s)].reg, s == 3));
        series->setPen(QPen(series_colors[s], 1.5));
        m_chart->addSeries(series);
        m_series[size_t(s)] = series;
    }
    for (int l = 0; l < trend_limits; ++l) {
        auto *line = new QLineSeries;
        line->setName(par_caption(trend_limit_parameter(l)));
        line->setPen(QPen(limit_colors[l], 1.5, Qt::DashLine));
        line->setVisible(false);
        m_chart->addSeries(line);
        m_limits[size_t(l)] = line;
    }
    build_axes();
    setRenderHint(QPainter::Antialiasing, false);
}

void TrendChart::build_axes()
{
    m_time = new QDateTimeAxis;
    m_time->setFormat(QStringLiteral("HH:mm:ss"));
    m_time->setTickCount(7);
    m_amps = value_axis("I, А", "%.3f");
    m_hertz = value_axis("Частота, Гц", "%.2f");
    m_volts = value_axis("U, В", "%.2f");
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(m_amps, Qt::AlignLeft);
    m_chart->addAxis(m_hertz, Qt::AlignRight);
    m_chart->addAxis(m_volts, Qt::AlignRight);
    for (int s = 0; s < trend_series; ++s) {
        m_series[size_t(s)]->attachAxis(m_time);
        m_series[size_t(s)]->attachAxis(axis_of(s));
    }
    for (QLineSeries *line : m_limits) {
        line->attachAxis(m_time);
        line->attachAxis(m_amps);
    }
}

QValueAxis *TrendChart::axis_of(int s) const
{
    switch (measured_fields[size_t(s)].axis) {
    case FieldAxis::current:
        return m_amps;
    case FieldAxis::frequency:
        return m_hertz;
    case FieldAxis::voltage:
        break;
    }
    return m_volts;
}

int trend_limit_parameter(int which)
{
    static const int timed = par_index("imax_timed");
    static const int instant = par_index("imax_instant");
    return which == tl_timed ? timed : instant;
}

void TrendChart::set_series_visible(int s, bool on)
{
    m_series[size_t(s)]->setVisible(on);
}

void TrendChart::set_limit(int which, double amps)
{
    m_limit_values[size_t(which)] = amps;
    m_limits[size_t(which)]->setVisible(true);
}

void TrendChart::clear_limits()
{
    for (int l = 0; l < trend_limits; ++l) {
        m_limit_values[size_t(l)].reset();
        m_limits[size_t(l)]->setVisible(false);
    }
}

void TrendChart::show_from(const TrendBuffer &buffer, qint64 from_ms)
{
    const qint64 first = std::max(from_ms, buffer.first_ms());
    const qint64 last = std::max(buffer.last_ms(), first + 1000);
    for (int s = 0; s < trend_series; ++s)
        m_series[size_t(s)]->replace(buffer.points(s, first, max_points));
    constexpr double none = std::numeric_limits<double>::infinity();
    double lo = none;
    double hi = -none;
    for (int l = 0; l < trend_limits; ++l) {
        const auto &value = m_limit_values[size_t(l)];
        if (!value)
            continue;
        m_limits[size_t(l)]->replace({QPointF(qreal(first), *value), QPointF(qreal(last), *value)});
        lo = std::min(lo, *value);
        hi = std::max(hi, *value);
    }
    m_time->setFormat(last - first > 86'400'000 ? QStringLiteral("dd.MM HH:mm")
                                                : QStringLiteral("HH:mm:ss"));
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(last));
    fit_axis(m_amps, lo, hi);
    fit_axis(m_hertz, none, -none);
    fit_axis(m_volts, none, -none);
}

// Fits the axis to the points of its visible series (and lo..hi), with a
// little room above and below; hides it while none of them is shown.
void TrendChart::fit_axis(QValueAxis *axis, double lo, double hi)
{
    bool shown = false;
    for (int s = 0; s < trend_series; ++s) {
        const QLineSeries *line = m_series[size_t(s)];
        if (axis_of(s) != axis || !line->isVisible())
            continue;
        shown = true;
        for (const QPointF &p : line->points()) {
            lo = std::min(lo, p.y());
            hi = std::max(hi, p.y());
        }
    }
    axis->setVisible(shown || axis == m_amps);
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return;
    const double room = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::abs(hi) * 0.05);
    axis->setRange(lo - room, hi + room);
    axis->applyNiceNumbers();
}
