#pragma once
// The measurements the trend window plots, held in bounded memory however
// long the program runs. Two tiers:
//  - the newest samples exactly as they came (a ring of fixed capacity), for
//    the short time windows;
//  - every sample since the start, merged into buckets of a common width that
//    doubles whenever the archive is full, for the long windows.
// A bucket keeps each series' lowest and highest value and when they
// occurred, so a short spike survives any amount of merging.

#include "registers.h"

#include <QList>
#include <QPointF>

#include <array>
#include <deque>
#include <vector>

// One series per measured field, in the table's order.
constexpr int trend_series = measured_count;

struct TrendSample {
    qint64 t = 0; // ms since the epoch
    std::array<float, trend_series> v{};
};

struct TrendExtremes {
    float lo = 0;
    float hi = 0;
    qint64 t_lo = 0;
    qint64 t_hi = 0;
};

// The longest pause between the samples of a bucket: from the sample
// before it to the one after. A bucket merged across an unplugged adapter
// still knows where the line must break.
struct TrendPause {
    qint64 from = 0;
    qint64 to = 0;
    qint64 length() const { return to - from; }
};

struct TrendBucket {
    qint64 t_first = 0;
    qint64 t_last = 0;
    TrendPause pause;
    std::array<TrendExtremes, trend_series> s{};
};

// A series as the plot draws it.
struct TrendTrace {
    QList<QPointF> points;
    QList<qsizetype> breaks; // points that begin a stretch after a gap, ascending
};

class TrendBuffer {
public:
    explicit TrendBuffer(int recent_capacity = 32768, int archive_capacity = 4096);

    void add(const Measurement &m);
    void add(const TrendSample &sample);
    void clear();

    // Samples and buckets held now: bounded by the two capacities (+1).
    int held() const;
    qint64 samples() const { return m_samples; }
    bool empty() const { return m_samples == 0; }
    qint64 first_ms() const { return m_first_ms; }
    qint64 last_ms() const { return m_last_ms; }

    // Series s from from_ms to to_ms as at most max_points points (x: ms
    // since the epoch, y: the value), the low and high of each stretch in
    // the order they occurred. Taken from the exact samples while they reach
    // back to from_ms, else from the archive. Where no sample came for more
    // than gap_ms, and for longer than one of the stretches merged into a
    // point pair, the trace breaks.
    TrendTrace trace(int s, qint64 from_ms, qint64 to_ms, int max_points, qint64 gap_ms) const;

private:
    void archive(const TrendSample &sample);
    void compact();

    int m_recent_capacity;
    int m_archive_capacity;
    std::deque<TrendSample> m_recent;
    std::vector<TrendBucket> m_archive;
    TrendBucket m_partial;
    int m_partial_count = 0;
    int m_width = 1; // samples per archive bucket
    qint64 m_samples = 0;
    qint64 m_first_ms = 0;
    qint64 m_last_ms = 0;
};
