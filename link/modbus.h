#pragma once
// The Modbus RTU master: every tick judges what came back since the previous
// tick as the answer to the head request, then sends exactly one frame.

#include "convert.h"
#include "request_ring.h"

#include <QString>

#include <cstdint>
#include <vector>

class LinkView;
class SerialPort;
struct ParTable;

extern const QString text_link_ok;      // reply with a correct checksum
extern const QString text_crc_mismatch; // checksum mismatch
extern const QString text_no_answer;    // fewer than 3 bytes received

struct Modbus {
    SerialPort *port = nullptr;
    LinkView *view = nullptr;
    const ParTable *table = nullptr;

    RequestRing ring;
    RxBuf rx_buf{};
    uint8_t rx_count = 0;
    std::vector<uint8_t> tx_frame;
};

// CRC-16/MODBUS of buffer entries 0..last (low byte goes first on the wire).
template <typename Buffer>
uint16_t crc16(const Buffer &buffer, int last)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i <= last; ++i) {
        crc ^= uint16_t(buffer[size_t(i)] & 0xFF);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

void exchange_step(Modbus &m);
void send_next(Modbus &m);
uint8_t read_rx_byte(Modbus &m);
void decode_reply(Modbus &m);

// Queues the default status poll: function 3, 10 registers from 200.
void enqueue_default_poll(RequestRing &ring);
