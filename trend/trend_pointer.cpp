// The plot under the mouse: a read-out of the values under the pointer, a
// rubber band or the wheel to zoom into a stretch of time.
#include "trend_chart.h"

#include <QDateTime>
#include <QGraphicsLineItem>
#include <QLineSeries>
#include <QMouseEvent>
#include <QRubberBand>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

// The point of a trace nearest to t (points in time order).
const QPointF *nearest(const QList<QPointF> &points, qint64 t)
{
    if (points.isEmpty())
        return nullptr;
    const auto after = std::lower_bound(points.begin(), points.end(), qreal(t),
                                        [](const QPointF &p, qreal x) { return p.x() < x; });
    if (after == points.begin())
        return &*after;
    if (after == points.end())
        return &points.back();
    const auto before = after - 1;
    return qreal(t) - before->x() <= after->x() - qreal(t) ? &*before : &*after;
}

} // namespace

void TrendChart::build_pointer()
{
    setMouseTracking(true);
    m_cursor = new QGraphicsLineItem(m_chart);
    m_cursor->setPen(QPen(QColor(0x80, 0x80, 0x80), 1, Qt::DotLine));
    m_cursor->setZValue(1000);
    m_cursor->hide();
    m_band = new QRubberBand(QRubberBand::Rectangle, viewport());
}

qint64 TrendChart::time_at(double x) const
{
    const QRectF plot = m_chart->plotArea();
    const double share = std::clamp((x - plot.left()) / std::max(1.0, plot.width()), 0.0, 1.0);
    return m_from + qint64(share * double(m_to - m_from));
}

QString TrendChart::read_out(qint64 t_ms) const
{
    const QLocale locale;
    QString text = QDateTime::fromMSecsSinceEpoch(t_ms).toString(
        m_to - m_from > 86'400'000 ? QStringLiteral("dd.MM HH:mm:ss") : QStringLiteral("HH:mm:ss"));
    // Farther than this from a sample the pointer is in a gap.
    const qint64 reach = std::max(gap_ms, 4 * (m_to - m_from) / max_points());
    for (int s = 0; s < trend_series; ++s) {
        if (!m_visible[size_t(s)])
            continue;
        const MeasuredField &f = measured_fields[size_t(s)];
        const QPointF *p = nearest(trace(s).points, t_ms);
        const bool near = p != nullptr && std::abs(qint64(p->x()) - t_ms) <= reach;
        text += QStringLiteral("  ") + QString::fromUtf8(f.caption) + QLatin1Char(' ') +
                (near ? locale.toString(p->y(), 'f', f.digits) + QLatin1Char(' ') +
                            QString::fromUtf8(f.unit)
                      : QStringLiteral("—"));
    }
    return text;
}

void TrendChart::point_at(double x)
{
    const QRectF plot = m_chart->plotArea();
    if (x < plot.left() || x > plot.right() || m_to <= m_from) {
        m_cursor->hide();
        emit pointed(QString());
        return;
    }
    m_cursor->setLine(x, plot.top(), x, plot.bottom());
    m_cursor->show();
    emit pointed(read_out(time_at(x)));
}

void TrendChart::wheelEvent(QWheelEvent *event)
{
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0 || m_to <= m_from)
        return;
    event->accept();
    const double x = m_chart->mapFromScene(mapToScene(event->position().toPoint())).x();
    const qint64 t = time_at(x);
    // A notch up shows four fifths of the span, a notch down five fourths.
    const double factor = std::pow(0.8, steps);
    const qint64 span = std::max(min_span_ms, qint64(double(m_to - m_from) * factor));
    const qint64 from = t - qint64(double(t - m_from) * double(span) / double(m_to - m_from));
    emit zoom_requested(from, from + span);
}

void TrendChart::mousePressEvent(QMouseEvent *event)
{
    const QPointF at = m_chart->mapFromScene(mapToScene(event->position().toPoint()));
    if (event->button() != Qt::LeftButton || !m_chart->plotArea().contains(at)) {
        QChartView::mousePressEvent(event);
        return;
    }
    m_band_start = event->position().toPoint();
    m_band->setGeometry(QRect(*m_band_start, QSize(1, 1)));
    m_band->show();
}

void TrendChart::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    point_at(m_chart->mapFromScene(mapToScene(pos)).x());
    if (!m_band_start)
        return;
    // The band spans the plot's height: it picks time, the axes fit themselves.
    const QRectF plot = m_chart->mapToScene(m_chart->plotArea()).boundingRect();
    const QRect in_view = mapFromScene(plot).boundingRect();
    m_band->setGeometry(QRect(QPoint(std::min(pos.x(), m_band_start->x()), in_view.top()),
                              QPoint(std::max(pos.x(), m_band_start->x()), in_view.bottom())));
}

void TrendChart::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_band_start || event->button() != Qt::LeftButton) {
        QChartView::mouseReleaseEvent(event);
        return;
    }
    m_band->hide();
    const QPoint start = *m_band_start;
    m_band_start.reset();
    const QPoint end = event->position().toPoint();
    if (std::abs(end.x() - start.x()) < 4)
        return;
    const auto time = [this](QPoint p) {
        return time_at(m_chart->mapFromScene(mapToScene(p)).x());
    };
    const qint64 a = time(start);
    const qint64 b = time(end);
    emit zoom_requested(std::min(a, b), std::max(a, b));
}

void TrendChart::leaveEvent(QEvent *event)
{
    QChartView::leaveEvent(event);
    m_cursor->hide();
    emit pointed(QString());
}
