#pragma once
// The Modbus RTU master: every tick judges what came back since the previous
// tick as the answer to the head request, then sends exactly one frame. What
// a good reply means is for the caller to say, from the record of the
// request it answers.

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
    // Sent whenever the ring is empty: function code, then the PDU body, and
    // what it asks. An empty PDU: nothing is sent unasked.
    std::vector<uint8_t> idle_pdu;
    RequestRecord idle_record;
    // Addresses the idle request goes to in turn; empty: the selected one.
    std::vector<int> idle_targets;
    size_t idle_next = 0;
    // What the line talks to; a reply to a request made for an earlier
    // generation answers nothing.
    uint32_t generation = 0;

    RequestRing ring;
    RxBuf rx_buf{};
    uint8_t rx_count = 0;
    std::vector<uint8_t> tx_frame;
    // The last frame written, what it asked and when, so that its reply is
    // judged against it.
    QByteArray in_flight;
    RequestRecord in_flight_record;
    qint64 in_flight_ms = 0;
};

Exchange exchange_step(Modbus &m);
// The length of a whole reply to the frame out, were it no exception; 0
// when nothing is out.
int reply_expected(const Modbus &m);
// Builds the head request's frame and writes it when the port is open.
void send_next(Modbus &m, Exchange &e);
uint8_t read_rx_byte(Modbus &m);

// The length in bytes, CRC included, of a whole reply to this request, once
// its first two bytes are in (an exception reply is 5 bytes long).
int reply_length(const RequestRecord &asked, uint8_t function_byte);
// Whether these n bytes, CRC already checked, are exactly the reply the
// request implies: its length, and its byte count and start address.
bool reply_fits(const RequestRecord &asked, const RxBuf &rx_buf, int n);

// The slave address the request in this slot goes to.
int target_of(const Modbus &m, int slot);
// Removes the pending requests for which drop(slot) holds. When the head
// goes, a late reply to it must not answer the request after it.
int drop_requests(Modbus &m, const std::function<bool(int slot)> &drop);
// What the line talks to changed: the reply to the frame out, if any comes,
// answers nothing, and requests made before are for the controller before.
void next_generation(Modbus &m);
