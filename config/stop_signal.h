#pragma once
// Ctrl+C and SIGTERM end either program cleanly: the handler only records
// the signal, and the event loop stops between two ticks, so a file is
// closed whole and the port (with its lock file) released.

#include <functional>

class QObject;

// Calls stop from the event loop of owner's thread when a stop signal came.
void stop_on_signals(QObject *owner, const std::function<void()> &stop);
