// Whatever comes back over the line, and whatever the operator asks for in
// between: every frame the master writes is well formed, its request ring
// never overwrites a pending request, a reply is only ever taken for the
// request it fits, and what the controller's model holds stays in range.
//
// Input: byte 0 is the slave address; then chunks, each a header byte
// (high 3 bits: the action, low 5 bits: n) and n bytes:
//   0..2  the n bytes arrive, then one tick
//   3     the n bytes arrive, no tick yet (replies longer than a chunk)
//   4     the n bytes arrive with their CRC appended (a good reply), one tick
//   5     par_readall
//   6     par_write(first byte % 9, the rest as UTF-8 text)
//   7     par_writeall: the n bytes as UTF-8, nine texts separated by ';'

#include "controller_model.h"
#include "crc.h"
#include "master.h"
#include "serial_port.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

void check(bool ok, const char *what)
{
    if (ok)
        return;
    std::fprintf(stderr, "fuzz_reply: %s\n", what);
    std::abort();
}

// The controller's end of the line in memory; every frame written is checked
// as it goes out.
class LoopPort : public SerialPort {
public:
    QByteArray incoming;
    qsizetype read_pos = 0;
    int address = 0;
    int frames = 0;

    PortError set_port_number(int) override { return PortError::None; }
    int port_number() const override { return 1; }
    QString device_name(int) const override { return QString(); }
    PortError open() override { return PortError::None; }
    void close() override {}
    bool is_open() const override { return true; }
    int bytes_waiting() override { return int(incoming.size() - read_pos); }
    uint8_t read_byte() override
    {
        return read_pos < incoming.size() ? uint8_t(incoming[read_pos++]) : 0;
    }
    bool wait_for_bytes(int) override { return bytes_waiting() > 0; }
    qint64 last_byte_ms() const override { return 1; }

    // address, function, rest of the PDU, CRC low, CRC high
    void write_frame(std::span<const uint8_t> frame) override
    {
        const int n = int(frame.size());
        check(n >= 4, "frame shorter than address, function and CRC");
        check(frame[0] == address, "frame not for the selected slave");
        const uint16_t crc = crc16(frame, n - 3);
        check(frame[size_t(n - 2)] == (crc & 0xFF) && frame[size_t(n - 1)] == (crc >> 8),
              "frame with a wrong CRC");
        ++frames;
    }
};

struct Rig {
    LoopPort port;
    std::unique_ptr<Master> owned;
    std::unique_ptr<ControllerModel> model;
    uint32_t next_id = 0;

    RequestRecord base(Purpose purpose)
    {
        return request_for(purpose, int16_t(port.address), owned->generation(), ++next_id);
    }

    // Every input starts from an idle master: no pending request, nothing in flight.
    void reset(int address)
    {
        owned = std::make_unique<Master>(port);
        Master &master = *owned;
        model = std::make_unique<ControllerModel>(address);
        ControllerModel &held = *model;
        master.par_table_init();
        master.set_address(address);
        port.address = address;
        port.incoming.clear();
        port.read_pos = 0;
        QObject::connect(&master, &Master::exchanged, [](const Exchange &e) {
            check(e.reply.size() <= 255, "more than 255 reply bytes kept");
            check(e.verdict != Verdict::good || e.reply.size() >= 5, "good verdict for a fragment");
            if (e.verdict != Verdict::good)
                return;
            RxBuf rx{};
            for (qsizetype i = 0; i < e.reply.size(); ++i)
                rx[size_t(i)] = uint8_t(e.reply[i]);
            check(reply_fits(e.asked, rx, int(e.reply.size())),
                  "good verdict for a reply its request does not imply");
        });
        QObject::connect(&master, &Master::replied, [&master, &held](const Reply &r) {
            check(!r.measurement || r.measurement->complete(),
                  "a measurement short of its registers");
            for (const ParConfirmation &c : r.parameters) {
                check(c.index >= 0 && c.index < par_count, "confirmation for no parameter");
                check(c.raw >= par_raw_low(master.table(), c.index) &&
                          c.raw <= par_raw_high(master.table(), c.index),
                      "confirmed value outside the parameter's range");
            }
            held.apply(r);
        });
    }

    void arrive(const uint8_t *data, size_t n, bool with_crc)
    {
        port.incoming.append(reinterpret_cast<const char *>(data), qsizetype(n));
        if (with_crc && n > 0) {
            const uint16_t crc = crc16(data, int(n) - 1);
            port.incoming.append(char(crc & 0xFF));
            port.incoming.append(char(crc >> 8));
        }
    }

    void tick()
    {
        Master &master = *owned;
        const int before = master.ring().pending();
        master.exchange_step();
        const int after = master.ring().pending();
        // A good reply removes the head; an empty ring gets the idle poll; an
        // echoed write gets its read-back.
        check(after >= before - 1 && after <= std::max(before, 1) + 1,
              "ring moved by more than one");
        check(port.bytes_waiting() == 0, "received bytes left unread");
        port.incoming.clear();
        port.read_pos = 0;
    }

    void act(int action, const uint8_t *data, size_t n)
    {
        const auto text = [&](size_t skip) {
            skip = std::min(skip, n);
            return QString::fromUtf8(reinterpret_cast<const char *>(data + skip),
                                     qsizetype(n - skip));
        };
        Master &master = *owned;
        const int before = master.ring().pending();
        if (action == 5) {
            master.par_readall(base(Purpose::read));
        } else if (action == 6) {
            master.par_write(n > 0 ? data[0] % par_count : 0, text(1), base(Purpose::write));
        } else {
            ParTexts texts;
            const QStringList parts = text(0).split(u';');
            for (int i = 0; i < par_count && i < parts.size(); ++i)
                texts[size_t(i)] = parts[i];
            master.par_writeall(texts, model->held_all(), base(Purpose::write));
        }
        const int after = master.ring().pending();
        check(after >= before, "a new request overwrote a pending one");
        check(after <= ring_slots - 1, "more than 511 requests pending");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Rig rig;
    if (size == 0)
        return 0;
    rig.reset(data[0]);
    size_t pos = 1;
    while (pos < size) {
        const int action = data[pos] >> 5;
        const size_t n = std::min<size_t>(data[pos] & 0x1F, size - pos - 1);
        const uint8_t *chunk = data + pos + 1;
        pos += 1 + n;
        if (action <= 4) {
            rig.arrive(chunk, n, action == 4);
            if (action != 3)
                rig.tick();
        } else {
            rig.act(action, chunk, n);
        }
    }
    return 0;
}
