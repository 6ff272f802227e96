#pragma once
// The series' lines, drawn by us inside the chart's plot area. Qt Charts'
// own line item strokes an outline of the whole line for mouse hits on
// every change, which for a few thousand points costs more than drawing
// them; here a change costs the mapping of its points, and a gap in the
// data is simply where one polyline ends and the next begins.

#include "trend_buffer.h"

#include <QGraphicsItem>
#include <QPen>

#include <array>

class QValueAxis;

class TrendTraces : public QGraphicsItem {
public:
    explicit TrendTraces(QGraphicsItem *parent);

    void set_pen(int s, const QPen &pen) { m_pens[size_t(s)] = pen; }
    void set_axis(int s, const QValueAxis *axis) { m_axes[size_t(s)] = axis; }
    void set_visible(int s, bool on) { m_visible[size_t(s)] = on; }
    // Series s as drawn from now on; an empty trace draws nothing.
    void set_trace(int s, TrendTrace trace) { m_traces[size_t(s)] = std::move(trace); }
    const TrendTrace &trace(int s) const { return m_traces[size_t(s)]; }
    // The plot area (in the chart's coordinates) and the time it spans.
    void set_frame(const QRectF &plot, qint64 from_ms, qint64 to_ms);

    QRectF boundingRect() const override { return m_plot; }
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

private:
    void draw(QPainter *painter, int s);

    QRectF m_plot;
    qint64 m_from = 0;
    qint64 m_to = 1;
    std::array<QPen, trend_series> m_pens{};
    std::array<const QValueAxis *, trend_series> m_axes{};
    std::array<bool, trend_series> m_visible{};
    std::array<TrendTrace, trend_series> m_traces{};
    QList<QLineF> m_segments; // reused from one drawing to the next
};
