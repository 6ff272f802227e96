#pragma once
// The Modbus RTU master: every tick judges what came back since the previous
// tick as the answer to the head request, then sends exactly one frame. What
// a good reply means is for the caller's decoder to say.

#include "convert.h"
#include "crc.h"
#include "exchange.h"
#include "request_ring.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <vector>

class SerialPort;

struct Modbus {
    SerialPort *port = nullptr;
    // Slave address of requests made for no address in particular; -1 while
    // none is selected.
    int address = -1;
    // Sent whenever the ring is empty: function code, then the PDU body.
    std::vector<uint8_t> idle_pdu;
    // Addresses the idle request goes to in turn; empty: the selected one.
    std::vector<int> idle_targets;
    size_t idle_next = 0;

    RequestRing ring;
    RxBuf rx_buf{};
    uint8_t rx_count = 0;
    std::vector<uint8_t> tx_frame;
    // The last frame written and when, so that its reply can be paired with it.
    QByteArray in_flight;
    qint64 in_flight_ms = 0;
};

// Called for a good reply, after its request has left the ring and before
// the next frame goes out; rx_buf[0..rx_count) holds the reply.
using ReplyDecoder = std::function<void(const Modbus &)>;

Exchange exchange_step(Modbus &m, const ReplyDecoder &decode_reply = {});
// Builds the head request's frame and writes it when the port is open.
void send_next(Modbus &m, Exchange &e);
uint8_t read_rx_byte(Modbus &m);

// The slave address the request in this slot goes to.
int target_of(const Modbus &m, int slot);
// Removes the pending requests for which drop(slot) holds. When the head
// goes, a late reply to it must not answer the request after it.
int drop_requests(Modbus &m, const std::function<bool(int slot)> &drop);
