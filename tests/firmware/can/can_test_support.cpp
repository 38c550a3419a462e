#include "can_test_support.h"

#include <cstring>

#include "model/mailbox.h"
#include "runtime/events.h"

namespace can_testing {

std::vector<dispatched>& seen()
{
    static std::vector<dispatched> calls;
    return calls;
}

namespace {

// Record what the port layer hands over, then pass it on to the handlers
// the unit registers for port 0.
void record_extended(uint32_t id, uint8_t len, const uint8_t* data)
{
    dispatched d{false, id, len, {}};
    std::memcpy(d.data, data, 8);
    seen().push_back(d);
    can_rx_dispatch(id, len, data);
}

void record_test_message(const can_queue_entry* slot)
{
    const uint8_t* b = slot->bytes;
    dispatched d{true, (uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24) >> 3,
                 uint8_t(b[4] >> 4), {}};
    std::memcpy(d.data, b + 5, 8);
    seen().push_back(d);
    test_message_handler(slot);
}

}  // namespace

void watch_receive()
{
    seen().clear();
    can_set_receive_handlers(0, record_extended, record_test_message);
    can_set_receive_handlers(1, nullptr, nullptr);
}

}  // namespace can_testing
