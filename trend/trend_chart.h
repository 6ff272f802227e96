#pragma once
// The plot of the trend window: six measurement series against wall-clock
// time, each on an axis in its own unit, and the two current limits as
// horizontal lines once the controller has confirmed them.

#include "trend_buffer.h"

#include <QChartView>

#include <array>
#include <optional>

class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

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
    // Redraws from the buffer: everything from from_ms to its newest sample.
    void show_from(const TrendBuffer &buffer, qint64 from_ms);

    QLineSeries *series(int s) const { return m_series[size_t(s)]; }
    QLineSeries *limit(int which) const { return m_limits[size_t(which)]; }
    QValueAxis *axis_of(int s) const;

    // Points per series at most, twice the width of a wide plot.
    static constexpr int max_points = 2000;

private:
    void build_axes();
    void fit_axis(QValueAxis *axis, double lo, double hi);

    QChart *m_chart;
    std::array<QLineSeries *, trend_series> m_series{};
    std::array<QLineSeries *, trend_limits> m_limits{};
    std::array<std::optional<double>, trend_limits> m_limit_values{};
    QDateTimeAxis *m_time = nullptr;
    QValueAxis *m_amps = nullptr;
    QValueAxis *m_hertz = nullptr;
    QValueAxis *m_volts = nullptr;
};
