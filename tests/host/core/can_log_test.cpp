// The CAN log on a disk that refuses it: the run learns the file, the
// reason and the unit time where the log stops.
#include "host/core/headless_run.h"

#include <gtest/gtest.h>

namespace norvane {
namespace {

TEST(CanLog, AFullDiskSaysTheFileTheReasonAndWhereTheLogStops)
{
    CanLog log;
    std::string why;
    ASSERT_TRUE(log.open("/dev/full", why)) << why;
    can_frame frame{};
    frame.id = 0x421;
    frame.len = 1;
    log.write(0, 1200, frame);
    log.write(0, 1225, frame);
    EXPECT_FALSE(log.close(why));
    EXPECT_EQ(why, "the CAN log '/dev/full' stops at unit time 1.200 s: No space left on device");
}

}  // namespace
}  // namespace norvane
