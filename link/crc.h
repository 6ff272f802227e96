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
