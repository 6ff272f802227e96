#pragma once
// The suites' own hand on the line: its tick one step at a time, and a look
// at what it keeps to itself (the ring, the timer, the port session), which
// no part of the program reaches.

#include "line.h"

struct LineDriver {
    static void tick(Line &line) { line.step(); }
    static void ticks(Line &line, int n)
    {
        for (int k = 0; k < n; ++k)
            line.step();
    }
    static const RequestRing &ring(const Line &line) { return line.m_master.ring(); }
    static QTimer *timer(Line &line) { return &line.m_timer; }
    static PortSession &session(Line &line) { return line.m_session; }
};
