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
}  // namespace can_testing

// The linker sends the port layer's calls of the two dispatchers here
// (--wrap on their mangled names); "real" are the firmware's own.
void real_can_rx_dispatch(uint32_t id, uint8_t len, const uint8_t* data) __asm__("__real__Z15can_rx_dispatchjhPKh");
void real_test_message_handler(const can_queue_entry* slot) __asm__(
    "__real__Z20test_message_handlerPK15can_queue_entry");
void wrap_can_rx_dispatch(uint32_t id, uint8_t len, const uint8_t* data) __asm__("__wrap__Z15can_rx_dispatchjhPKh");
void wrap_test_message_handler(const can_queue_entry* slot) __asm__(
    "__wrap__Z20test_message_handlerPK15can_queue_entry");

void wrap_can_rx_dispatch(uint32_t id, uint8_t len, const uint8_t* data)
{
    can_testing::dispatched d{false, id, len, {}};
    std::memcpy(d.data, data, 8);
    can_testing::seen().push_back(d);
    real_can_rx_dispatch(id, len, data);
}

void wrap_test_message_handler(const can_queue_entry* slot)
{
    const uint8_t* b = slot->bytes;
    can_testing::dispatched d{true, (uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24) >> 3,
                              uint8_t(b[4] >> 4), {}};
    std::memcpy(d.data, b + 5, 8);
    can_testing::seen().push_back(d);
    real_test_message_handler(slot);
}
