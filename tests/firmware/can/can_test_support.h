// Helpers of the CAN tests: what reached the receive dispatchers, and ports
// mapped by string.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "can/can_port.h"
#include "runtime/hal.h"

namespace can_testing {

// One call of can_rx_dispatch or test_message_handler seen by the test.
struct dispatched {
    bool test_message;  // test_message_handler rather than can_rx_dispatch
    uint32_t id;
    uint8_t len;
    uint8_t data[8];
};

// Calls seen since the last clear, in order (the test binary wraps both
// dispatchers at link time and passes every call on).
std::vector<dispatched>& seen();

inline can_frame frame(uint32_t id, uint8_t ext, std::vector<uint8_t> data)
{
    can_frame f{};
    f.id = id;
    f.ext = ext;
    f.len = uint8_t(data.size());
    for (size_t i = 0; i < data.size() && i < 8; ++i)
        f.data[i] = data[i];
    return f;
}

// Maps the port with `mapping`, runs can_init and opens the port.
inline ::testing::AssertionResult map_and_open(uint8_t port, const std::string& mapping)
{
    char why[256];
    if (!hal_can_map_port(port, mapping.c_str(), why, sizeof why))
        return ::testing::AssertionFailure() << why;
    can_init();
    if (can_port_open(port) != 0)
        return ::testing::AssertionFailure() << "port " << int(port) << " did not open as " << mapping;
    return ::testing::AssertionSuccess();
}

}  // namespace can_testing
