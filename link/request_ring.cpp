#include "request_ring.h"

#include <algorithm>

bool advance_write_idx(RequestRing &ring)
{
    if (ring.full())
        return false;
    ring.req_write_idx = int16_t((ring.req_write_idx + 1) % ring_slots);
    return true;
}

bool push(RequestRing &ring, uint8_t function, std::span<const uint8_t> body)
{
    // The sender counts the PDU with an 8-bit counter: at most 254 bytes.
    if (ring.full() || body.size() > 253)
        return false;
    auto &slot = ring.req_queue[size_t(ring.req_write_idx)];
    slot[0] = 0; // the slave address goes here when the frame is built
    slot[1] = function;
    std::copy(body.begin(), body.end(), slot.begin() + 2);
    ring.req_len[size_t(ring.req_write_idx)] = int32_t(body.size()) + 1;
    return advance_write_idx(ring);
}

void advance_read_idx(RequestRing &ring)
{
    if (ring.empty())
        return;
    ring.req_read_idx = int16_t((ring.req_read_idx + 1) % ring_slots);
}

uint8_t byte_of(int32_t value, uint8_t n)
{
    if (n > 3)
        return 0;
    return uint8_t((uint32_t(value) >> (8 * n)) & 0xFF);
}
