#pragma once
// First-in, first-out ring of outgoing requests. A slot holds byte 0 (always
// 0, replaced by the slave address when the frame is built), the function
// code at byte 1 and the rest of the PDU from byte 2; req_len counts the PDU
// bytes from byte 1. Empty when both indices are equal; at most 511 pending.
// Beside each slot lies the request's record: what its producer asked, typed,
// so that a reply is judged against it and never against re-read bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

constexpr int ring_slots = 512;
constexpr int slot_bytes = 261;
// A request for whatever slave address is selected when it is sent.
constexpr int16_t any_address = -1;

// How the reply to a request is laid out, so that its length is known from
// the request and the reply's own count before a byte of its data is used.
enum class ReplyShape : uint8_t {
    registers,     // byte count = 2 × registers asked, then the data (function 3)
    address_bytes, // start address high, low, byte count = bytes asked, then the data
};

struct RequestRecord {
    uint8_t function = 0;
    ReplyShape shape = ReplyShape::registers;
    uint16_t start = 0; // first register, or first byte address
    uint16_t count = 0; // registers, or bytes
    // The slave address it is meant for, or any_address. A line with several
    // controllers on it addresses each request to one of them.
    int16_t target = any_address;
    uint8_t purpose = 0; // the producer's own code; the link only carries it
    // Sent once: unanswered, it leaves the ring instead of going out again
    // (a poll that the next round asks anew).
    bool once = false;
    uint32_t generation = 0; // of what the line talked to when it was made
    uint32_t id = 0;         // the producer's number for it; 0 for none
};

struct RequestRing {
    std::array<std::array<uint8_t, slot_bytes>, ring_slots> req_queue{};
    std::array<int32_t, ring_slots> req_len{};
    std::array<RequestRecord, ring_slots> req_record{};
    int16_t req_write_idx = 0;
    int16_t req_read_idx = 0;

    bool empty() const { return req_read_idx == req_write_idx; }
    int pending() const { return (req_write_idx - req_read_idx + ring_slots) % ring_slots; }
    bool full() const { return pending() == ring_slots - 1; }
    // The slot of the k-th pending request, 0 being the head.
    int slot(int k) const { return (req_read_idx + k) % ring_slots; }
    const RequestRecord &record(int slot) const { return req_record[size_t(slot)]; }
};

// Publishes the slot at the write index. With 511 requests pending the ring
// refuses: the new request is dropped and false returned, so nothing pending
// is ever overwritten.
bool advance_write_idx(RequestRing &ring);
// The one way in: fills the slot at the write index with the record's
// function code and the PDU body, keeps the record beside it, then publishes
// it. False, with nothing queued, when the ring is full or the request is
// longer than a slot holds.
bool push(RequestRing &ring, const RequestRecord &record, std::span<const uint8_t> body);
// Removes the head request; does nothing on an empty ring.
void advance_read_idx(RequestRing &ring);

// Removes every pending request for which drop(slot) holds, keeping the
// others in their order. Returns how many went.
int drop_pending(RequestRing &ring, const std::function<bool(int slot)> &drop);

// Byte n (0 = least significant) of value's 32-bit two's-complement form;
// 0 for n above 3.
uint8_t byte_of(int32_t value, uint8_t n);
