#include "trend_buffer.h"

#include <algorithm>

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

void merge_into(TrendBucket &a, const TrendBucket &later)
{
    a.t_last = later.t_last;
    for (int s = 0; s < trend_series; ++s)
        widen(a.s[size_t(s)], later.s[size_t(s)]);
}

// Items 0..n-1 (get(i) gives their extremes) in groups small enough that at
// most max_points points come out: one point for a group that is a single
// sample, else its low and its high in the order they occurred.
template <typename Get> QList<QPointF> envelope(size_t n, Get get, bool exact, int max_points)
{
    const size_t pairs = size_t(std::max(1, max_points / 2));
    const size_t group = (exact && n <= size_t(max_points)) ? 1 : (n + pairs - 1) / pairs;
    QList<QPointF> out;
    out.reserve(qsizetype(std::min(n, size_t(max_points)) + 1));
    for (size_t i = 0; i < n; i += group) {
        TrendExtremes e = get(i);
        for (size_t j = i + 1; j < std::min(n, i + group); ++j)
            widen(e, get(j));
        if (e.t_lo == e.t_hi) {
            out.append(QPointF(qreal(e.t_lo), qreal(e.lo)));
        } else if (e.t_lo < e.t_hi) {
            out.append(QPointF(qreal(e.t_lo), qreal(e.lo)));
            out.append(QPointF(qreal(e.t_hi), qreal(e.hi)));
        } else {
            out.append(QPointF(qreal(e.t_hi), qreal(e.hi)));
            out.append(QPointF(qreal(e.t_lo), qreal(e.lo)));
        }
    }
    return out;
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

QList<QPointF> TrendBuffer::points(int s, qint64 from_ms, int max_points) const
{
    if (m_samples == 0 || s < 0 || s >= trend_series)
        return {};
    const auto si = size_t(s);
    if (m_recent.front().t <= std::max(from_ms, m_first_ms)) {
        const auto first = std::lower_bound(m_recent.begin(), m_recent.end(), from_ms,
                                            [](const TrendSample &x, qint64 t) { return x.t < t; });
        const auto at = [&](size_t i) {
            const TrendSample &x = first[qsizetype(i)];
            return TrendExtremes{x.v[si], x.v[si], x.t, x.t};
        };
        return envelope(size_t(m_recent.end() - first), at, true, max_points);
    }
    const auto first =
        std::lower_bound(m_archive.begin(), m_archive.end(), from_ms,
                         [](const TrendBucket &b, qint64 t) { return b.t_last < t; });
    const size_t stored = size_t(m_archive.end() - first);
    const auto at = [&](size_t i) {
        return i < stored ? first[qsizetype(i)].s[si] : m_partial.s[si];
    };
    return envelope(stored + (m_partial_count > 0 ? 1 : 0), at, false, max_points);
}
