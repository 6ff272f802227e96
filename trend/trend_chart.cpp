#include "trend_chart.h"

#include "par_table.h"
#include "trend_traces.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The Okabe–Ito palette, which eyes short of red or green still tell apart:
// the phases orange, bluish green and vermilion (near the yellow, green and
// red of the phase markings), the frequency blue, the analog inputs purple
// and sky blue. The limits are black and grey and dashed, unlike any series.
const QColor series_colors[trend_series] = {QColor(0xe6, 0x9f, 0x00), QColor(0x00, 0x9e, 0x73),
                                            QColor(0xd5, 0x5e, 0x00), QColor(0x00, 0x72, 0xb2),
                                            QColor(0xcc, 0x79, 0xa7), QColor(0x56, 0xb4, 0xe9)};
const QColor limit_colors[trend_limits] = {QColor(0x00, 0x00, 0x00), QColor(0x66, 0x66, 0x66)};
const Qt::PenStyle limit_styles[trend_limits] = {Qt::DashLine, Qt::DashDotLine};
constexpr qreal pen_width = 2;
constexpr double none = std::numeric_limits<double>::infinity();

QValueAxis *value_axis(const char *title)
{
    auto *axis = new QValueAxis;
    axis->setTitleText(QString::fromUtf8(title));
    return axis;
}

// The fewest decimals that tell ticks this far apart from each other:
// 0 for a step of 5, 1 for 0.2, 2 for 0.05.
int tick_decimals(double step)
{
    for (int d = 0; d < 4; ++d) {
        const double scaled = step * std::pow(10.0, d);
        if (std::abs(scaled - std::round(scaled)) < 1e-6 * std::max(1.0, scaled))
            return d;
    }
    return 4;
}

struct NiceRange {
    double min;
    double max;
    double step;
    int ticks;
};

// Round limits around lo..hi, four to six steps of 1, 2 or 5 × 10ⁿ apart.
// They change only when the data crosses one, so most redraws leave the
// axis, and its labels, as they were.
NiceRange nice_range(double lo, double hi)
{
    const double wanted = (hi - lo) / 4;
    const double magnitude = std::pow(10.0, std::floor(std::log10(wanted)));
    double step = magnitude * 10;
    for (const double f : {1.0, 2.0, 5.0}) {
        if (magnitude * f >= wanted) {
            step = magnitude * f;
            break;
        }
    }
    const double min = std::floor(lo / step) * step;
    const double max = std::ceil(hi / step) * step;
    return {min, max, step, int(std::lround((max - min) / step)) + 1};
}

} // namespace

// Our chart goes in at construction: a view made without one makes its own,
// and setChart() only releases that one, never deletes it.
TrendChart::TrendChart(QWidget *parent) : QChartView(new QChart, parent), m_chart(chart())
{
    setObjectName(QStringLiteral("trend_chart"));
    setAccessibleName(QStringLiteral("График"));
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    m_chart->setLocale(locale);
    m_chart->setLocalizeNumbers(true);
    m_visible.fill(true);
    m_traces = new TrendTraces(m_chart);
    for (int s = 0; s < trend_series; ++s) {
        auto *entry = new QLineSeries;
        entry->setName(field_caption(measured_fields[size_t(s)].reg, s == 3));
        entry->setPen(QPen(series_colors[s], pen_width));
        m_chart->addSeries(entry);
        m_legend[size_t(s)] = entry;
        m_traces->set_pen(s, QPen(series_colors[s], pen_width, Qt::SolidLine, Qt::FlatCap));
    }
    for (int l = 0; l < trend_limits; ++l) {
        auto *line = new QLineSeries;
        line->setName(par_caption(trend_limit_parameter(l)));
        line->setPen(QPen(limit_colors[l], 1.5, limit_styles[l]));
        line->setVisible(false);
        m_chart->addSeries(line);
        m_limits[size_t(l)] = line;
    }
    build_axes();
    build_pointer();
    setRenderHint(QPainter::Antialiasing, false);
}

void TrendChart::build_axes()
{
    m_time = new QDateTimeAxis;
    m_time->setFormat(QStringLiteral("HH:mm:ss"));
    m_time->setTickCount(7);
    m_amps = value_axis("I, А");
    m_hertz = value_axis("Частота, Гц");
    m_volts = value_axis("U, В");
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(m_amps, Qt::AlignLeft);
    m_chart->addAxis(m_hertz, Qt::AlignRight);
    m_chart->addAxis(m_volts, Qt::AlignRight);
    for (int s = 0; s < trend_series; ++s) {
        m_legend[size_t(s)]->attachAxis(m_time);
        m_legend[size_t(s)]->attachAxis(axis_of(s));
        m_traces->set_axis(s, axis_of(s));
    }
    connect(m_chart, &QChart::plotAreaChanged, this,
            [this](const QRectF &plot) { m_traces->set_frame(plot, m_from, m_to); });
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

const TrendTrace &TrendChart::trace(int s) const
{
    return m_traces->trace(s);
}

int trend_limit_parameter(int which)
{
    static const int timed = par_index("imax_timed");
    static const int instant = par_index("imax_instant");
    return which == tl_timed ? timed : instant;
}

void TrendChart::set_series_visible(int s, bool on)
{
    m_visible[size_t(s)] = on;
    m_traces->set_visible(s, on);
    m_legend[size_t(s)]->setVisible(on);
}

void TrendChart::set_limit(int which, double amps)
{
    m_limit_values[size_t(which)] = amps;
}

void TrendChart::clear_limits()
{
    for (int l = 0; l < trend_limits; ++l) {
        m_limit_values[size_t(l)].reset();
        m_limits[size_t(l)]->setVisible(false);
    }
}

void TrendChart::set_limit_asked(int which, bool on)
{
    m_limit_asked[size_t(which)] = on;
}

int TrendChart::max_points() const
{
    const int width = int(m_chart->plotArea().width());
    return width > 0 ? std::max(2 * width, 200) : 1600;
}

void TrendChart::show_range(const TrendBuffer &buffer, qint64 from_ms, qint64 to_ms)
{
    m_from = from_ms;
    m_to = std::max(to_ms, from_ms + 1000);
    const int points = max_points();
    std::array<double, 3> lo{none, none, none};
    std::array<double, 3> hi{-none, -none, -none};
    for (int s = 0; s < trend_series; ++s) {
        if (!m_visible[size_t(s)]) {
            m_traces->set_trace(s, {});
            continue;
        }
        TrendTrace trace = buffer.trace(s, m_from, m_to, points, gap_ms);
        const auto a = size_t(measured_fields[size_t(s)].axis);
        for (const QPointF &p : trace.points) {
            lo[a] = std::min(lo[a], p.y());
            hi[a] = std::max(hi[a], p.y());
        }
        m_traces->set_trace(s, std::move(trace));
    }
    m_time->setFormat(m_to - m_from > 86'400'000 ? QStringLiteral("dd.MM HH:mm")
                                                 : QStringLiteral("HH:mm:ss"));
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(m_from), QDateTime::fromMSecsSinceEpoch(m_to));
    place_limits(lo[size_t(FieldAxis::current)], hi[size_t(FieldAxis::current)]);
    fit_axis(m_hertz, lo[size_t(FieldAxis::frequency)], hi[size_t(FieldAxis::frequency)]);
    fit_axis(m_volts, lo[size_t(FieldAxis::voltage)], hi[size_t(FieldAxis::voltage)]);
    m_traces->set_frame(m_chart->plotArea(), m_from, m_to);
}

// Fits the amps axis to the phases shown, stretched to the limits asked
// for; a limit line is drawn when it then falls within the axis.
void TrendChart::place_limits(double amps_lo, double amps_hi)
{
    for (int l = 0; l < trend_limits; ++l) {
        const auto &value = m_limit_values[size_t(l)];
        if (value && m_limit_asked[size_t(l)]) {
            amps_lo = std::min(amps_lo, *value);
            amps_hi = std::max(amps_hi, *value);
        }
    }
    fit_axis(m_amps, amps_lo, amps_hi);
    for (int l = 0; l < trend_limits; ++l) {
        const auto &value = m_limit_values[size_t(l)];
        QLineSeries *line = m_limits[size_t(l)];
        const bool shown =
            value && m_amps->isVisible() && *value >= m_amps->min() && *value <= m_amps->max();
        if (shown)
            line->replace({QPointF(qreal(m_from), *value), QPointF(qreal(m_to), *value)});
        line->setVisible(shown);
    }
}

// Fits the axis to lo..hi with a little room above and below and round
// ticks labelled with as many decimals as they need; hides it when there
// is nothing to fit.
void TrendChart::fit_axis(QValueAxis *axis, double lo, double hi)
{
    const bool shown = std::isfinite(lo) && std::isfinite(hi);
    if (axis->isVisible() != shown)
        axis->setVisible(shown);
    if (!shown)
        return;
    const double room = hi > lo ? (hi - lo) * 0.03 : std::max(0.1, std::abs(hi) * 0.05);
    const NiceRange r = nice_range(lo - room, hi + room);
    if (axis->min() != r.min || axis->max() != r.max)
        axis->setRange(r.min, r.max);
    if (axis->tickCount() != r.ticks)
        axis->setTickCount(r.ticks);
    const QString format = QStringLiteral("%.%1f").arg(tick_decimals(r.step));
    if (axis->labelFormat() != format)
        axis->setLabelFormat(format);
}
