#pragma once
// An RZT-604Д in memory, for window tests over the fake port: it answers
// function 3 from its registers and functions 100 and 101 from its
// parameter memory (bytes 257..270), at its own address, and is silent to
// every other address. Plug it in with port.responder = controller.
#include "frames.h"

#include <QByteArray>

#include <array>

struct FakeController {
    int address = 1;
    std::array<uint16_t, 10> registers{0, 0x0205, 0x010c, 0, 1200, 1300, 1400, 5000, 7, 8};
    QByteArray memory = hex("646566"
                            "05dc"
                            "007d"
                            "4e20"
                            "03e8"
                            "0000"
                            "01");
    // A worn EEPROM: writes are echoed as usual but the memory keeps its bytes.
    bool ignore_writes = false;
    bool silent = false;

    QByteArray operator()(const QByteArray &frame)
    {
        if (silent || frame.size() < 4 || uint8_t(frame[0]) != address)
            return {};
        const QByteArray pdu = frame.mid(1, frame.size() - 3);
        QByteArray reply(1, char(address));
        const int f = uint8_t(pdu[0]);
        const int at = pdu.size() >= 4 ? uint8_t(pdu[1]) * 256 + uint8_t(pdu[2]) : 0;
        if (f == 3) {
            reply += hex("0314");
            for (uint16_t r : registers)
                reply += char(r >> 8), reply += char(r & 0xFF);
        } else if (f == 100 && at >= 257 && at + uint8_t(pdu[3]) <= 271) {
            reply += pdu.left(4) + memory.mid(at - 257, uint8_t(pdu[3]));
        } else if (f == 101 && at >= 257 && at + uint8_t(pdu[3]) <= 271) {
            if (!ignore_writes)
                memory.replace(at - 257, uint8_t(pdu[3]), pdu.mid(4));
            reply += pdu;
        } else {
            reply += char(f | 0x80), reply += char(2);
        }
        return with_crc(reply);
    }
};
