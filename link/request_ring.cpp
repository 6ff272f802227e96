#include "request_ring.h"

bool advance_write_idx(RequestRing &ring)
{
    if (ring.full())
        return false;
    ring.req_write_idx = int16_t((ring.req_write_idx + 1) % ring_slots);
    return true;
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
