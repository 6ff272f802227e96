#pragma once
// Finding the controller on the line: every address in a range is asked for
// register 200 with function 3 and given a short time to answer. Normal
// polling must be paused while a scan owns the port.

#include "readings.h"

#include <QList>

#include <functional>

class SerialPort;

struct ScanHit {
    int address = 0;
    Version protocol; // from registers 201 and 202, asked of each address that answered
    Version software;
    bool versions_known = false;
};

struct ScanOptions {
    int from = 1;
    int to = 247;
    // How long one address is given to answer; at 115200 baud a reply is
    // complete well within this.
    int reply_ms = 30;
};

// Called before each address is asked; returning false stops the scan.
using ScanProgress = std::function<bool(int address)>;

// The addresses that gave a reply with a good CRC from their own address.
QList<ScanHit> scan_addresses(SerialPort &port, const ScanOptions &options,
                              const ScanProgress &progress = {});
