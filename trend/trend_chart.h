#pragma once
// The plot of the trend window: six measurement series against wall-clock
// time, each on an axis in its own unit, and the two current limits as
// horizontal lines. Each axis fits the data shown; a limit line is drawn
// when it falls within that range or when the operator asks for it (the
// axis then stretches to it). A pause in the data is a gap in the line.
// Qt Charts gives the axes, the grid and the legend (an empty series per
// measured field); the lines themselves are drawn by TrendTraces.

#include "trend_buffer.h"

#include <QChartView>

#include <array>
#include <optional>

class QDateTimeAxis;
class QGraphicsLineItem;
class QLineSeries;
class QRubberBand;
class QValueAxis;
class TrendTraces;

enum TrendLimit { tl_timed, tl_instant, trend_limits };
// The parameter a limit line shows.
int trend_limit_parameter(int which);

class TrendChart : public QChartView {
    Q_OBJECT
public:
    explicit TrendChart(QWidget *parent = nullptr);

    void set_series_visible(int s, bool on);
    void set_limit(int which, double amps);
    // No limit is known (another controller): the lines go.
    void clear_limits();
    // The line is drawn whatever the data's range.
    void set_limit_asked(int which, bool on);
    // Redraws from_ms..to_ms of the buffer.
    void show_range(const TrendBuffer &buffer, qint64 from_ms, qint64 to_ms);

    // Series s as drawn now.
    const TrendTrace &trace(int s) const;
    // Series s's entry in the legend.
    QLineSeries *limit(int which) const { return m_limits[size_t(which)]; }
    QValueAxis *axis_of(int s) const;
    qint64 shown_from() const { return m_from; }
    qint64 shown_to() const { return m_to; }
    // Points per series at most: a low and a high per pixel column of the
    // plot, so that drawing costs the same whatever the span holds.
    int max_points() const;
    // What lies under the pointer at time t_ms: the time and each shown
    // series' value, with the user's decimal separator.
    QString read_out(qint64 t_ms) const;

    // No sample for longer than this (three ticks of the poll): a gap.
    static constexpr qint64 gap_ms = 3 * 150;
    // The shortest span a zoom shows.
    static constexpr qint64 min_span_ms = 2000;

signals:
    // The operator picked a stretch of time: a rubber band or the wheel.
    void zoom_requested(qint64 from_ms, qint64 to_ms);
    // The read-out under the pointer; empty once it leaves the plot.
    void pointed(const QString &text);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void build_axes();
    void build_pointer();
    void fit_axis(QValueAxis *axis, double lo, double hi);
    void place_limits(double amps_lo, double amps_hi);
    qint64 time_at(double x) const;
    void point_at(double x);

    QChart *m_chart;
    std::array<QLineSeries *, trend_series> m_legend{};
    TrendTraces *m_traces = nullptr;
    std::array<bool, trend_series> m_visible{};
    std::array<QLineSeries *, trend_limits> m_limits{};
    std::array<std::optional<double>, trend_limits> m_limit_values{};
    std::array<bool, trend_limits> m_limit_asked{};
    QDateTimeAxis *m_time = nullptr;
    QValueAxis *m_amps = nullptr;
    QValueAxis *m_hertz = nullptr;
    QValueAxis *m_volts = nullptr;
    qint64 m_from = 0;
    qint64 m_to = 0;
    QGraphicsLineItem *m_cursor = nullptr;
    QRubberBand *m_band = nullptr;
    std::optional<QPoint> m_band_start;
};
