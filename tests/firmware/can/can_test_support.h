// Helpers of the CAN tests: what reached the receive dispatchers, and ports
// mapped by string.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "can/can_port.h"
#include "platform/hal.h"

namespace can_testing {

// One frame the port layer handed to a receive handler of port 0.
struct dispatched {
    bool test_message;  // the test-message handler rather than the extended one
    uint32_t id;
    uint8_t len;
    uint8_t data[8];
};

// Frames seen since watch_receive, in order.
std::vector<dispatched>& seen();
// Registers port 0's receive handlers as the unit does (mailboxes and test
// messages), recording every frame before passing it on; port 1 gets none.
void watch_receive();

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
