#include "host/bus/bus_arbiter.h"

#include <algorithm>
#include <cstring>

namespace norvane {

namespace {

// The frame's bits from the start of frame to the end of the CRC, before
// stuffing, most significant first.
struct bit_stream {
    uint8_t bits[160];
    unsigned n = 0;
    void put(uint32_t value, unsigned count)
    {
        for (unsigned i = count; i-- > 0;)
            bits[n++] = uint8_t((value >> i) & 1u);
    }
};

uint16_t crc15(const bit_stream& s)
{
    uint16_t crc = 0;
    for (unsigned i = 0; i < s.n; ++i) {
        const bool next = s.bits[i] ^ ((crc >> 14) & 1u);
        crc = uint16_t((crc << 1) & 0x7FFFu);
        if (next)
            crc ^= 0x4599u;
    }
    return crc;
}

}  // namespace

uint32_t can_frame_wire_bits(const can_frame& frame)
{
    const unsigned len = frame.len > 8 ? 8u : frame.len;
    bit_stream s;
    s.put(0, 1);  // start of frame
    if (frame.ext) {
        const uint32_t id = frame.id & 0x1FFFFFFFu;
        s.put(id >> 18, 11);
        s.put(1, 1);  // substitute remote request
        s.put(1, 1);  // identifier extension
        s.put(id & 0x3FFFFu, 18);
        s.put(frame.rtr ? 1u : 0u, 1);
        s.put(0, 2);  // r1, r0
    } else {
        s.put(frame.id & 0x7FFu, 11);
        s.put(frame.rtr ? 1u : 0u, 1);
        s.put(0, 2);  // identifier extension, r0
    }
    s.put(len, 4);
    if (!frame.rtr)
        for (unsigned i = 0; i < len; ++i)
            s.put(frame.data[i], 8);
    s.put(crc15(s), 15);
    // A stuff bit after every five equal bits; it starts the next run.
    unsigned stuffed = 0, run = 0;
    uint8_t last = 2;
    for (unsigned i = 0; i < s.n; ++i) {
        run = s.bits[i] == last ? run + 1 : 1;
        last = s.bits[i];
        if (run == 5) {
            ++stuffed;
            last = uint8_t(!last);
            run = 1;
        }
    }
    // CRC delimiter, acknowledgement slot and delimiter, end of frame,
    // interframe space.
    return s.n + stuffed + 1 + 2 + 7 + 3;
}

bool bus_arbiter::has_room(uint64_t now_ms) const
{
    const uint64_t now_bits = now_ms * BITS_PER_MS;
    return busy_until_ <= now_bits + WINDOW_BITS;
}

uint32_t bus_arbiter::wire_bits(const can_frame& frame)
{
    const unsigned len = frame.len > 8 ? 8u : frame.len;
    const uint8_t shape = uint8_t(0x80u | (frame.ext ? 0x40u : 0u) | (frame.rtr ? 0x20u : 0u) | len);
    uint8_t data[8] = {};
    if (!frame.rtr)
        std::memcpy(data, frame.data, len);
    uint32_t hash = frame.id * 0x9E3779B1u;
    for (unsigned i = 0; i < len; ++i)
        hash = (hash ^ data[i]) * 0x01000193u;
    remembered_length& slot = lengths_[(hash >> 26) & 63u];
    if (slot.shape == shape && slot.id == frame.id && std::memcmp(slot.data, data, sizeof data) == 0)
        return slot.bits;
    slot.id = frame.id;
    slot.shape = shape;
    std::memcpy(slot.data, data, sizeof data);
    slot.bits = can_frame_wire_bits(frame);
    return slot.bits;
}

void bus_arbiter::take(const can_frame& frame, uint64_t now_ms)
{
    const uint64_t bits = wire_bits(frame);
    busy_until_ = std::max(busy_until_, now_ms * BITS_PER_MS) + bits;
    bits_ += bits;
    ++carried_;
}

bus_arbiter::verdict bus_arbiter::offer(const can_frame& frame, uint64_t now_ms, uintptr_t tag)
{
    if (pending_.empty() && has_room(now_ms)) {
        take(frame, now_ms);
        return verdict::now;
    }
    size_t& queued = waiting_by_sender_[tag];
    if (queued >= PENDING_MAX) {
        ++refused_;
        return verdict::refused;
    }
    ++queued;
    const uint32_t base = frame.ext ? (frame.id & 0x1FFFFFFFu) >> 18 : frame.id & 0x7FFu;
    pending_.emplace(key{base, frame.ext ? 1 : 0, frame.ext ? frame.id & 0x3FFFFu : 0u, sequence_++},
                     waiting{frame, tag});
    ++delayed_;
    return verdict::waiting;
}

bool bus_arbiter::release(uint64_t now_ms, can_frame& frame, uintptr_t& tag)
{
    if (pending_.empty() || !has_room(now_ms))
        return false;
    const auto first = pending_.begin();
    frame = first->second.frame;
    tag = first->second.tag;
    pending_.erase(first);
    --waiting_by_sender_[tag];
    take(frame, now_ms);
    return true;
}

uint64_t bus_arbiter::busy_bits(uint64_t now_ms) const
{
    const uint64_t now_bits = now_ms * BITS_PER_MS;
    const uint64_t ahead = busy_until_ > now_bits ? busy_until_ - now_bits : 0;
    return bits_ > ahead ? bits_ - ahead : 0;
}

}  // namespace norvane
