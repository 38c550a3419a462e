#include <cstdlib>
#include <net/if.h>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "can/can_port.h"
#include "os/os_socketcan.h"
#include "can_test_support.h"
#include "host/core/virtual_clock.h"

using can_testing::map_and_open;

namespace {

// A virtual CAN interface for one test: an existing vcan0, else one made for
// the test (needs the vcan kernel module and the right to add links).
class VcanInterface {
public:
    VcanInterface()
    {
        if (if_nametoindex("vcan0") != 0) {
            name_ = "vcan0";
            return;
        }
        const std::string name = "nvcan" + std::to_string(::getpid() % 100000);
        const std::string add = "ip link add dev " + name + " type vcan 2>/dev/null && ip link set up " + name;
        if (std::system(add.c_str()) == 0 && if_nametoindex(name.c_str()) != 0) {
            name_ = name;
            made_ = true;
        }
    }
    ~VcanInterface()
    {
        if (made_)
            (void)std::system(("ip link delete " + name_ + " 2>/dev/null").c_str());
    }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    bool made_ = false;
};

class CanSocket : public ::testing::Test {
protected:
    void SetUp() override
    {
        norvane::set_virtual_clock_ms(0);
        norvane::use_virtual_clock();
    }
};

}  // namespace

TEST_F(CanSocket, MissingInterfaceDoesNotOpen)
{
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, "socketcan:nosuchcan7", why, sizeof why));
    can_init();
    EXPECT_EQ(-1, can_port_open(0));
    const can_frame f = can_testing::frame(0x123, 0, {1});
    EXPECT_EQ(-1, can_port_send(0, &f));
    can_frame out;
    EXPECT_EQ(-1, can_port_receive(0, &out));
}

TEST_F(CanSocket, FramesCrossAVcanInterfaceBothWays)
{
    VcanInterface vcan;
    if (vcan.name().empty())
        GTEST_SKIP() << "no vcan interface: vcan0 does not exist and 'ip link add ... type vcan' failed "
                        "(this kernel has no vcan module, or adding links is not allowed)";
    ASSERT_TRUE(map_and_open(0, "socketcan:" + vcan.name()));
    const int peer = os_can_socket_open(vcan.name().c_str());
    ASSERT_GE(peer, 0);

    can_queue_frame(0, 0x18EF0102, 1, 3, can_testing::frame(0, 0, {7, 8, 9}).data);
    can_flush_transmit();
    os_can_socket_frame got{};
    int tries = 0;
    while (os_can_socket_read(peer, got) != 0 && ++tries < 1000)
        usleep(1000);
    EXPECT_EQ(got.id, 0x18EF0102u);
    EXPECT_EQ(got.ext, 1);
    EXPECT_EQ(got.len, 3);
    EXPECT_EQ(got.data[2], 9);

    const os_can_socket_frame reply{0x422, 0, 0, 2, {0xAB, 0xCD}};
    ASSERT_EQ(0, os_can_socket_write(peer, reply));
    can_frame in{};
    tries = 0;
    while (can_port_receive(0, &in) != 0 && ++tries < 1000)
        usleep(1000);
    EXPECT_EQ(in.id, 0x422u);
    EXPECT_EQ(in.ext, 0);
    EXPECT_EQ(in.len, 2);
    EXPECT_EQ(in.data[1], 0xCD);
    os_can_socket_close(peer);
}
