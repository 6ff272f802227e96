#pragma once
// The one way a request frame is built: slave address, PDU, CRC low, CRC high.

#include "crc.h"

#include <cstdint>
#include <span>
#include <vector>

inline std::vector<uint8_t> rtu_frame(uint8_t address, std::span<const uint8_t> pdu)
{
    std::vector<uint8_t> frame;
    frame.reserve(pdu.size() + 3);
    frame.push_back(address);
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    const uint16_t crc = crc16(frame, int(frame.size()) - 1);
    frame.push_back(uint8_t(crc & 0xFF));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}
