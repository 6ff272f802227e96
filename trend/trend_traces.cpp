#include "trend_traces.h"

#include <QPainter>
#include <QValueAxis>

TrendTraces::TrendTraces(QGraphicsItem *parent) : QGraphicsItem(parent)
{
    m_visible.fill(true);
    // Above the grid, below the pointer's line.
    setZValue(50);
}

void TrendTraces::set_frame(const QRectF &plot, qint64 from_ms, qint64 to_ms)
{
    if (plot != m_plot)
        prepareGeometryChange();
    m_plot = plot;
    m_from = from_ms;
    m_to = std::max(to_ms, from_ms + 1);
    update();
}

void TrendTraces::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->save();
    painter->setClipRect(m_plot);
    for (int s = 0; s < trend_series; ++s)
        if (m_visible[size_t(s)] && m_axes[size_t(s)] != nullptr)
            draw(painter, s);
    painter->restore();
}

// Each stretch its own run of segments, a stretch of a single sample a dot.
// Separate segments with flat ends take the raster engine's quick path for
// wide pens; a polyline of the same width is stroked as an outline and
// filled, at three times the cost, for joins no one sees at two pixels.
void TrendTraces::draw(QPainter *painter, int s)
{
    const TrendTrace &trace = m_traces[size_t(s)];
    const QValueAxis *axis = m_axes[size_t(s)];
    if (trace.points.isEmpty() || axis->max() <= axis->min())
        return;
    const double x_scale = m_plot.width() / double(m_to - m_from);
    const double y_scale = m_plot.height() / (axis->max() - axis->min());
    const auto map = [&](const QPointF &p) {
        return QPointF(m_plot.left() + (p.x() - double(m_from)) * x_scale,
                       m_plot.bottom() - (p.y() - axis->min()) * y_scale);
    };
    m_segments.clear();
    const QPen &pen = m_pens[size_t(s)];
    qsizetype next_break = 0;
    QPointF previous = map(trace.points.front());
    bool alone = true; // previous begins a stretch that has no segment yet
    for (qsizetype i = 1; i <= trace.points.size(); ++i) {
        const bool broken = i == trace.points.size() ||
                            (next_break < trace.breaks.size() && trace.breaks[next_break] == i);
        if (broken) {
            if (alone) {
                const qreal w = pen.widthF();
                painter->fillRect(QRectF(previous - QPointF(w / 2, w / 2), QSizeF(w, w)),
                                  pen.color());
            }
            ++next_break;
            alone = true;
            if (i < trace.points.size())
                previous = map(trace.points[i]);
            continue;
        }
        const QPointF here = map(trace.points[i]);
        m_segments.append(QLineF(previous, here));
        previous = here;
        alone = false;
    }
    painter->setPen(pen);
    painter->drawLines(m_segments);
}
