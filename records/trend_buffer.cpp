#include "trend_buffer.h"

#include <algorithm>
#include <limits>

namespace {

TrendBucket bucket_of(const TrendSample &x)
{
    TrendBucket b;
    b.t_first = b.t_last = x.t;
    for (int s = 0; s < trend_series; ++s)
        b.s[size_t(s)] = {x.v[size_t(s)], x.v[size_t(s)], x.t, x.t};
    return b;
}

// Ties keep the earlier extreme: e comes before x in time.
void widen(TrendExtremes &e, const TrendExtremes &x)
{
    if (x.lo < e.lo) {
        e.lo = x.lo;
        e.t_lo = x.t_lo;
    }
    if (x.hi > e.hi) {
        e.hi = x.hi;
        e.t_hi = x.t_hi;
    }
}

// The span of a followed by later, and the longest pause in it.
void join_span(qint64 &t_last, TrendPause &pause, qint64 later_first, qint64 later_last,
               const TrendPause &later_pause)
{
    const TrendPause between{t_last, later_first};
    if (between.length() > pause.length())
        pause = between;
    if (later_pause.length() > pause.length())
        pause = later_pause;
    t_last = later_last;
}

void merge_into(TrendBucket &a, const TrendBucket &later)
{
    join_span(a.t_last, a.pause, later.t_first, later.t_last, later.pause);
    for (int s = 0; s < trend_series; ++s)
        widen(a.s[size_t(s)], later.s[size_t(s)]);
}

// What one item (a sample or a bucket) holds of one series.
struct Stretch {
    TrendExtremes e;
    qint64 t_first = 0;
    qint64 t_last = 0;
    TrendPause pause;
};

void join(Stretch &a, const Stretch &later)
{
    join_span(a.t_last, a.pause, later.t_first, later.t_last, later.pause);
    widen(a.e, later.e);
}

// Turns a series' items into what the plot draws.
class TraceBuilder {
public:
    explicit TraceBuilder(qint64 gap) : m_gap(gap) {}

    // A group's low and high in the order they occurred, with a break
    // before it after a pause, and inside it at its own pause.
    void add(const Stretch &x)
    {
        if (!m_trace.points.isEmpty() && x.t_first - m_last > m_gap)
            mark_break();
        m_last = x.t_last;
        bool paused = x.pause.length() > m_gap;
        QPointF p(qreal(x.e.t_lo), qreal(x.e.lo));
        QPointF q(qreal(x.e.t_hi), qreal(x.e.hi));
        if (q.x() < p.x())
            std::swap(p, q);
        for (const QPointF &point : p.x() == q.x() ? QList<QPointF>{p} : QList<QPointF>{p, q}) {
            if (paused && qint64(point.x()) >= x.pause.to) {
                mark_break();
                paused = false;
            }
            m_trace.points.append(point);
        }
        // Both extremes before the pause: the next group starts after it.
        if (paused)
            m_last = x.pause.from;
    }
    TrendTrace take() { return std::move(m_trace); }
    void reserve(qsizetype n) { m_trace.points.reserve(n); }

private:
    void mark_break()
    {
        const qsizetype at = m_trace.points.size();
        if (at > 0 && (m_trace.breaks.isEmpty() || m_trace.breaks.last() != at))
            m_trace.breaks.append(at);
    }

    qint64 m_gap;
    qint64 m_last = 0;
    TrendTrace m_trace;
};

// Items 0..n-1 (get(i) gives each) in groups small enough that at most
// max_points points come out: one point for a group that is a single
// sample, else its low and its high. A pause longer than gap_ms and than a
// group's share of the whole span breaks the line; a shorter one would not
// show at this scale.
template <typename Get>
TrendTrace envelope(size_t n, Get get, bool exact, int max_points, qint64 gap_ms)
{
    if (n == 0)
        return {};
    const size_t pairs = size_t(std::max(1, max_points / 2));
    const size_t group = (exact && n <= size_t(max_points)) ? 1 : (n + pairs - 1) / pairs;
    const qint64 span = get(n - 1).t_last - get(0).t_first;
    const qint64 no_gap = std::numeric_limits<qint64>::max();
    TraceBuilder out(gap_ms > 0 ? std::max(gap_ms, span / qint64((n + group - 1) / group))
                                : no_gap);
    out.reserve(qsizetype(std::min(n, size_t(max_points)) + 1));
    for (size_t i = 0; i < n; i += group) {
        Stretch x = get(i);
        for (size_t j = i + 1; j < std::min(n, i + group); ++j)
            join(x, get(j));
        out.add(x);
    }
    return out.take();
}

} // namespace

TrendBuffer::TrendBuffer(int recent_capacity, int archive_capacity)
    : m_recent_capacity(std::max(1, recent_capacity)),
      m_archive_capacity(std::max(2, archive_capacity))
{
    m_archive.reserve(size_t(m_archive_capacity));
}

void TrendBuffer::add(const Measurement &m)
{
    TrendSample sample{m.time_ms, {}};
    for (int s = 0; s < trend_series; ++s)
        sample.v[size_t(s)] = float(field_value(m, measured_fields[size_t(s)]));
    add(sample);
}

void TrendBuffer::add(const TrendSample &sample)
{
    if (m_samples == 0)
        m_first_ms = sample.t;
    m_last_ms = sample.t;
    ++m_samples;
    m_recent.push_back(sample);
    if (int(m_recent.size()) > m_recent_capacity)
        m_recent.pop_front();
    archive(sample);
}

void TrendBuffer::clear()
{
    m_recent.clear();
    m_archive.clear();
    m_partial_count = 0;
    m_width = 1;
    m_samples = 0;
    m_first_ms = m_last_ms = 0;
}

int TrendBuffer::held() const
{
    return int(m_recent.size() + m_archive.size()) + (m_partial_count > 0 ? 1 : 0);
}

void TrendBuffer::archive(const TrendSample &sample)
{
    if (m_partial_count == 0)
        m_partial = bucket_of(sample);
    else
        merge_into(m_partial, bucket_of(sample));
    if (++m_partial_count < m_width)
        return;
    m_archive.push_back(m_partial);
    m_partial_count = 0;
    if (int(m_archive.size()) >= m_archive_capacity)
        compact();
}

// Halves the archive by merging neighbours: every bucket then covers twice
// as many samples, and the memory stays where it was.
void TrendBuffer::compact()
{
    const size_t n = m_archive.size();
    size_t out = 0;
    for (size_t i = 0; i < n; i += 2, ++out) {
        TrendBucket b = m_archive[i];
        if (i + 1 < n)
            merge_into(b, m_archive[i + 1]);
        m_archive[out] = b;
    }
    m_archive.resize(out);
    m_width *= 2;
}

TrendTrace TrendBuffer::trace(int s, qint64 from_ms, qint64 to_ms, int max_points,
                              qint64 gap_ms) const
{
    if (m_samples == 0 || s < 0 || s >= trend_series || to_ms < from_ms)
        return {};
    const auto si = size_t(s);
    if (m_recent.front().t <= std::max(from_ms, m_first_ms)) {
        const auto by_time = [](const TrendSample &x, qint64 t) { return x.t < t; };
        const auto first = std::lower_bound(m_recent.begin(), m_recent.end(), from_ms, by_time);
        const auto end = std::lower_bound(first, m_recent.end(), to_ms + 1, by_time);
        const auto at = [&](size_t i) {
            const TrendSample &x = first[qsizetype(i)];
            return Stretch{{x.v[si], x.v[si], x.t, x.t}, x.t, x.t, {}};
        };
        return envelope(size_t(end - first), at, true, max_points, gap_ms);
    }
    const auto first =
        std::lower_bound(m_archive.begin(), m_archive.end(), from_ms,
                         [](const TrendBucket &b, qint64 t) { return b.t_last < t; });
    const auto end = std::lower_bound(first, m_archive.end(), to_ms + 1,
                                      [](const TrendBucket &b, qint64 t) { return b.t_first < t; });
    const size_t stored = size_t(end - first);
    const bool partial = m_partial_count > 0 && end == m_archive.end() &&
                         m_partial.t_first <= to_ms && m_partial.t_last >= from_ms;
    const auto at = [&](size_t i) {
        const TrendBucket &b = i < stored ? first[qsizetype(i)] : m_partial;
        return Stretch{b.s[si], b.t_first, b.t_last, b.pause};
    };
    return envelope(stored + (partial ? 1 : 0), at, false, max_points, gap_ms);
}
