#include "scan.h"

#include "registers.h"
#include "rtu_frame.h"
#include "serial_port.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <vector>

namespace {

constexpr int fn_read_holding = 3;
constexpr int version_register = 201; // 201 protocol, 202 software

// 03, start (2), count (2): framed like every request of the master
std::vector<uint8_t> read_frame(int address, int start, int count)
{
    const uint8_t pdu[] = {fn_read_holding, uint8_t(start >> 8), uint8_t(start & 0xFF),
                           uint8_t(count >> 8), uint8_t(count & 0xFF)};
    return rtu_frame(uint8_t(address), pdu);
}

void drop_waiting(SerialPort &port)
{
    while (port.bytes_waiting() > 0)
        port.read_byte();
}

// Length of the reply so far expected: address, 83, code, CRC (2) for an
// exception; address, 03, byte count, 2 per register, CRC (2) otherwise.
int expected_length(const QByteArray &reply, int count)
{
    if (reply.size() >= 2 && (uint8_t(reply[1]) & 0x80))
        return 5;
    return 5 + 2 * count;
}

// Takes bytes until a whole reply is in or the reply time is over.
QByteArray read_reply(SerialPort &port, int count, int reply_ms)
{
    QElapsedTimer clock;
    clock.start();
    QByteArray reply;
    for (;;) {
        while (port.bytes_waiting() > 0 && reply.size() < expected_length(reply, count))
            reply.append(char(port.read_byte()));
        if (reply.size() >= expected_length(reply, count))
            return reply;
        const qint64 remaining = reply_ms - clock.elapsed();
        if (remaining <= 0 || !port.wait_for_bytes(int(remaining)))
            return reply;
    }
}

// A reply counts when its CRC is good and it comes from the asked address
// with function 3 or its exception: a late reply of the previous address,
// or noise, must not make a hit.
bool from_address(const QByteArray &reply, int address, int count)
{
    const int n = int(reply.size());
    if (n < 5 || n != expected_length(reply, count))
        return false;
    return crc_matches(reply, n) && uint8_t(reply[0]) == address &&
           (uint8_t(reply[1]) & 0x7F) == fn_read_holding;
}

QByteArray ask(SerialPort &port, int address, int start, int count, int reply_ms)
{
    drop_waiting(port);
    port.write_frame(read_frame(address, start, count));
    return read_reply(port, count, reply_ms);
}

// address, 03, 04, protocol (major, minor), software (major, minor), CRC
void ask_versions(SerialPort &port, ScanHit &hit, int reply_ms)
{
    const QByteArray reply = ask(port, hit.address, version_register, 2, reply_ms);
    if (!from_address(reply, hit.address, 2) || uint8_t(reply[1]) != fn_read_holding)
        return;
    hit.protocol = {uint8_t(reply[3]), uint8_t(reply[4])};
    hit.software = {uint8_t(reply[5]), uint8_t(reply[6])};
    hit.versions_known = true;
}

} // namespace

QList<ScanHit> scan_addresses(SerialPort &port, const ScanOptions &options,
                              const ScanProgress &progress)
{
    QList<ScanHit> hits;
    for (int address = options.from; address <= options.to; ++address) {
        if (progress && !progress(address))
            break;
        const QByteArray reply =
            ask(port, address, measurement_first_register, 1, options.reply_ms);
        if (!from_address(reply, address, 1))
            continue;
        ScanHit hit;
        hit.address = address;
        ask_versions(port, hit, options.reply_ms);
        hits.append(hit);
    }
    drop_waiting(port);
    return hits;
}
