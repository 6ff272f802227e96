#pragma once
// CRC-16/MODBUS: reflected polynomial 0xA001, start 0xFFFF, no final XOR.

#include <cstddef>
#include <cstdint>

// Over buffer entries 0..last; the low byte goes first on the wire.
template <typename Buffer> uint16_t crc16(const Buffer &buffer, int last)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i <= last; ++i) {
        crc ^= uint16_t(buffer[size_t(i)] & 0xFF);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

// Whether the first n entries are a frame of 3 or more bytes whose last two
// are the CRC of the rest, low byte first. Every received frame is judged so.
template <typename Buffer> bool crc_matches(const Buffer &buffer, int n)
{
    if (n < 3)
        return false;
    const int received = (buffer[size_t(n - 1)] & 0xFF) * 256 + (buffer[size_t(n - 2)] & 0xFF);
    return received == crc16(buffer, n - 3);
}
