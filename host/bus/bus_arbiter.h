// The bus's bandwidth: a 250 kbit/s bus carries only so many frames. Every
// frame put on the virtual bus (the unit's, the installation's, a client's,
// a scenario's) is offered here first. The bus is a serial line that is busy
// until `busy_until` (in bit times): a frame leaves at once, with the time it
// was offered, while the bits ahead of it leave within one main step of the
// unit (25 ms, the batch one step flushes), which today's traffic never
// comes near; beyond that it waits with the others in arbitration order
// (lowest identifier first, as the bus's arbitration decides) and leaves at
// a later pass when the bus has room, stamped with that time; when
// PENDING_MAX frames of the same sender wait, its next one is refused and
// counted, as that controller's full transmit queue refuses (a flooding
// sender fills its own queue, not the unit's or the modules'). Everything is in the unit's
// milliseconds, so a run in virtual time is deterministic.
//
// Frame lengths are exact: the bits of the frame with its stuff bits (a
// complementary bit after five equal ones from the start of frame to the
// end of the CRC), the CRC delimiter, acknowledgement, end of frame and the
// three bits of interframe space.
//
// Not thread-safe: the hub holds its lock around every call.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <tuple>

#include "seam/can.h"

namespace norvane {

// Bits the frame takes on the wire, stuff bits and interframe space included.
uint32_t can_frame_wire_bits(const can_frame& frame);

class bus_arbiter {
public:
    static constexpr uint32_t BIT_RATE = 250000;
    static constexpr uint64_t BITS_PER_MS = BIT_RATE / 1000;
    // The backlog the bus absorbs without delaying a frame: one main step.
    static constexpr uint64_t WINDOW_BITS = 25 * BITS_PER_MS;
    static constexpr size_t PENDING_MAX = 256;

    enum class verdict { now, waiting, refused };

    // Offers a frame at unit time `now_ms`. `tag` names the sender (its
    // transmit queue) and is handed back with the frame when it leaves later.
    verdict offer(const can_frame& frame, uint64_t now_ms, uintptr_t tag);
    // The next waiting frame that may leave at `now_ms`, lowest identifier
    // first; false when none may.
    bool release(uint64_t now_ms, can_frame& frame, uintptr_t& tag);

    // Bit times the bus was busy up to `now_ms`: it grows by at most 250 a
    // millisecond, so the load it gives never reads above 100 %.
    uint64_t busy_bits(uint64_t now_ms) const;
    size_t backlog() const { return pending_.size(); }
    uint64_t refused() const { return refused_; }
    uint64_t delayed() const { return delayed_; }
    uint64_t carried() const { return carried_; }

private:
    bool has_room(uint64_t now_ms) const;
    void take(const can_frame& frame, uint64_t now_ms);
    uint32_t wire_bits(const can_frame& frame);

    // The bus repeats the same frames (every module's status, every
    // command), so their lengths are remembered, by identifier and data,
    // rather than stuffed and CRC'd bit by bit each time.
    struct remembered_length {
        uint32_t id = 0;
        uint8_t shape = 0;  // length, extended and remote flags; 0 when empty
        uint8_t data[8] = {};
        uint32_t bits = 0;
    };
    remembered_length lengths_[64];

    // Arbitration order: the 11-bit base identifier, a standard frame before
    // an extended one of the same base, then the rest of the identifier;
    // equal identifiers in the order offered.
    using key = std::tuple<uint32_t, uint8_t, uint32_t, uint64_t>;
    struct waiting {
        can_frame frame;
        uintptr_t tag;
    };
    std::map<key, waiting> pending_;
    std::map<uintptr_t, size_t> waiting_by_sender_;
    uint64_t sequence_ = 0;
    uint64_t busy_until_ = 0;  // bit time the bus is free from
    uint64_t bits_ = 0;        // bits of every frame carried so far
    uint64_t refused_ = 0;
    uint64_t delayed_ = 0;
    uint64_t carried_ = 0;
};

}  // namespace norvane
