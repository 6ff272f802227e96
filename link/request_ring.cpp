#include "request_ring.h"

#include <algorithm>

bool advance_write_idx(RequestRing &ring)
{
    if (ring.full())
        return false;
    ring.req_write_idx = int16_t((ring.req_write_idx + 1) % ring_slots);
    return true;
}

bool push(RequestRing &ring, const RequestRecord &record, std::span<const uint8_t> body)
{
    // The sender counts the PDU with an 8-bit counter: at most 254 bytes.
    if (ring.full() || body.size() > 253)
        return false;
    const auto w = size_t(ring.req_write_idx);
    auto &slot = ring.req_queue[w];
    slot[0] = 0; // the slave address goes here when the frame is built
    slot[1] = record.function;
    std::copy(body.begin(), body.end(), slot.begin() + 2);
    ring.req_len[w] = int32_t(body.size()) + 1;
    ring.req_record[w] = record;
    return advance_write_idx(ring);
}

void advance_read_idx(RequestRing &ring)
{
    if (ring.empty())
        return;
    ring.req_read_idx = int16_t((ring.req_read_idx + 1) % ring_slots);
}

int drop_pending(RequestRing &ring, const std::function<bool(int slot)> &drop)
{
    const int n = ring.pending();
    int kept = 0;
    for (int k = 0; k < n; ++k) {
        const auto from = size_t(ring.slot(k));
        if (drop(int(from)))
            continue;
        const auto to = size_t(ring.slot(kept++));
        if (to != from) {
            ring.req_queue[to] = ring.req_queue[from];
            ring.req_len[to] = ring.req_len[from];
            ring.req_record[to] = ring.req_record[from];
        }
    }
    ring.req_write_idx = int16_t(ring.slot(kept));
    return n - kept;
}

uint8_t byte_of(int32_t value, uint8_t n)
{
    if (n > 3)
        return 0;
    return uint8_t((uint32_t(value) >> (8 * n)) & 0xFF);
}
