// Whatever a Modbus TCP gateway sends, in whatever pieces: only the answer
// to the transaction awaited comes out, as one well-formed RTU frame with its
// CRC; every other byte is counted as dropped, none is lost or made up, and
// no more than one frame's worth is ever held.
//
// Input: chunks, each a header byte (high bit: a request goes out first, its
// transaction the next two bytes; low 7 bits: n) and n bytes that arrive.

#include "crc.h"
#include "mbap_reader.h"

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char *what)
{
    if (ok)
        return;
    std::fprintf(stderr, "fuzz_mbap: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MbapReader reader;
    qint64 fed = 0;
    qint64 out = 0;
    qint64 dropped = 0;
    size_t pos = 0;
    while (pos < size) {
        const uint8_t head = data[pos++];
        if ((head & 0x80) && pos + 2 <= size) {
            reader.await(quint16(data[pos] << 8 | data[pos + 1]));
            pos += 2;
        }
        const size_t n = std::min<size_t>(head & 0x7F, size - pos);
        const QByteArray chunk(reinterpret_cast<const char *>(data + pos), qsizetype(n));
        pos += n;
        reader.feed(chunk);
        fed += qint64(n);
        const QByteArray rtu = reader.take_rtu();
        if (!rtu.isEmpty()) {
            // unit id, function, CRC (2); the PDU at most what a length allows
            check(rtu.size() >= 4 && rtu.size() <= MbapReader::max_length + 2,
                  "an answer of impossible length");
            check(crc_matches(rtu, int(rtu.size())), "an answer with a wrong CRC");
            out += MbapReader::header_size + rtu.size() - 2;
        }
        dropped += reader.take_dropped();
        // What came is what went out, was dropped, or is held: one frame at most.
        const qint64 held = fed - out - dropped;
        check(held >= 0, "more bytes out than came in");
        check(held < MbapReader::header_size + MbapReader::max_length, "more than a frame held");
    }
    return 0;
}
