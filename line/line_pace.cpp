// The line paced by replies rather than by the window's tick: the next
// request goes out as soon as the reply in flight is whole (its length known
// from the request and its first bytes, or the line silent after it) or its
// time ran out, keeping the line's 3.5 characters of silence between frames.
// Polls of several controllers are spread by their interval, and a poll that
// goes unanswered is not repeated: the next controller's turn is not lost.

#include "line.h"

#include "registers.h"

#include <thread>

namespace {

// 3.5 characters; above 19200 baud Modbus fixes it at 1.75 ms.
constexpr qint64 frame_gap_ns = 1'750'000;
// After the last byte: the frame has ended when nothing followed this long.
constexpr int frame_end_ms = 2;
// How often a port that cannot tell is asked while a reply is awaited.
constexpr int listen_ms = 2;

} // namespace

void Line::set_polling(bool on, const std::vector<int> &addresses)
{
    m_polling = on;
    m_poll_targets = addresses;
    m_due_ns.clear();
    m_master.set_polling(on && m_pace == Pace::tick, addresses);
}

void Line::start(Pace pace, bool step_now)
{
    m_pace = pace;
    m_session.wait_for_port(true);
    if (pace == Pace::tick) {
        m_master.set_polling(m_polling, m_poll_targets);
        if (step_now)
            step();
        m_timer.start();
        return;
    }
    m_master.set_polling(false);
    if (!m_clock.isValid()) {
        m_clock.start();
        for (QTimer *t : {&m_wake, &m_frame_end, &m_ask}) {
            t->setSingleShot(true);
            t->setTimerType(Qt::PreciseTimer);
        }
        m_listen.setInterval(listen_ms);
        connect(&m_wake, &QTimer::timeout, this, &Line::paced_step);
        connect(&m_frame_end, &QTimer::timeout, this, &Line::paced_step);
        connect(&m_ask, &QTimer::timeout, this, &Line::paced_step);
        connect(&m_listen, &QTimer::timeout, this, &Line::port_ready);
    }
    m_port_tells = m_session.port().set_ready_handler([this] { port_ready(); });
    paced_step();
}

void Line::stop()
{
    m_timer.stop();
    for (QTimer *t : {&m_wake, &m_frame_end, &m_ask, &m_listen})
        t->stop();
    if (m_pace == Pace::replies)
        m_session.port().set_ready_handler({});
    m_pace = Pace::tick;
}

// Something was queued: a line paced by replies that sits idle starts it.
void Line::kick()
{
    if (m_pace == Pace::replies && !m_stepping && !m_master.in_flight() && !m_ask.isActive())
        m_ask.start(0);
}

void Line::queue_due_poll()
{
    if (!m_polling || !m_master.idle())
        return;
    const std::vector<int> targets =
        m_poll_targets.empty() ? std::vector<int>{address()} : m_poll_targets;
    const qint64 now = m_clock.nsecsElapsed();
    int chosen = -1;
    qint64 earliest = 0;
    for (int a : targets) {
        if (a < 0)
            continue;
        const qint64 due = m_due_ns.count(a) ? m_due_ns[a] : 0;
        if (due <= now && (chosen < 0 || due < earliest)) {
            chosen = a;
            earliest = due;
        }
    }
    if (chosen < 0)
        return;
    m_due_ns[chosen] = now + qint64(m_interval_ms) * 1'000'000;
    RequestRecord base = request(Purpose::poll, chosen);
    base.once = true;
    m_master.ask_measurement(base);
}

void Line::paced_step()
{
    if (m_stepping || m_pace != Pace::replies)
        return;
    m_stepping = true;
    for (QTimer *t : {&m_wake, &m_frame_end, &m_ask})
        t->stop();
    // The line keeps its silence between the last byte in and the next out.
    if (m_last_rx_ns >= 0) {
        const qint64 quiet = m_clock.nsecsElapsed() - m_last_rx_ns;
        if (quiet < frame_gap_ns)
            std::this_thread::sleep_for(std::chrono::nanoseconds(frame_gap_ns - quiet));
        m_last_rx_ns = -1;
    }
    if (!m_master.in_flight())
        queue_due_poll();
    step();
    m_stepping = false;
    schedule();
}

void Line::schedule()
{
    if (m_pace != Pace::replies)
        return;
    if (m_master.in_flight()) {
        m_wake.start(m_reply_timeout_ms);
        if (!m_port_tells)
            m_listen.start();
        return;
    }
    m_listen.stop();
    // Nothing went out: the port is closed, or nothing is asked yet.
    if (!m_master.idle() || !m_session.port().is_open()) {
        m_wake.start(m_reply_timeout_ms);
        return;
    }
    if (!m_polling)
        return;
    qint64 earliest = -1;
    const std::vector<int> targets =
        m_poll_targets.empty() ? std::vector<int>{address()} : m_poll_targets;
    for (int a : targets) {
        const qint64 due = m_due_ns.count(a) ? m_due_ns[a] : 0;
        if (earliest < 0 || due < earliest)
            earliest = due;
    }
    if (earliest < 0)
        return;
    const qint64 wait_ns = std::max<qint64>(0, earliest - m_clock.nsecsElapsed());
    m_wake.start(int((wait_ns + 999'999) / 1'000'000));
}

// Bytes came in: a whole reply goes to the exchange at once; anything less
// waits for more, or for the silence that ends a frame.
void Line::port_ready()
{
    if (m_stepping || m_pace != Pace::replies || !m_master.in_flight())
        return;
    const int waiting = m_session.port().bytes_waiting();
    if (waiting <= 0)
        return;
    m_last_rx_ns = m_clock.nsecsElapsed();
    if (waiting >= m_master.reply_expected()) {
        paced_step();
        return;
    }
    m_frame_end.start(frame_end_ms);
}
