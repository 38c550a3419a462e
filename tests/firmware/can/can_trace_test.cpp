#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "can/can_port.h"
#include "can/can_trace_format.h"
#include "can_test_support.h"
#include "host/core/virtual_clock.h"
#include "support/test_os.h"
#include "support/unit_fixture.h"

using can_testing::map_and_open;
using norvane::testing::TempDir;

namespace {

struct Record {
    uint64_t time_us;
    uint32_t id;
    uint8_t flags;
    uint8_t len;
    std::vector<uint8_t> data;
};

void write_ctb(const std::string& path, const std::vector<Record>& records, uint32_t version = 2)
{
    std::ofstream out(path, std::ios::binary);
    uint8_t header[CAN_TRACE_HEADER_SIZE];
    can_trace_header(header);
    header[4] = uint8_t(version);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (const Record& r : records) {
        can_trace_record rec{r.time_us, r.id, r.flags, r.len, {}};
        for (size_t i = 0; i < r.data.size() && i < 8; ++i)
            rec.data[i] = r.data[i];
        uint8_t raw[CAN_TRACE_RECORD_SIZE];
        can_trace_encode(rec, raw);
        out.write(reinterpret_cast<const char*>(raw), sizeof raw);
    }
}

class CanTrace : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The unit's clock base is taken once per process, by whichever test
        // reads the clock first; the tests count from it whatever it is.
        norvane::set_virtual_clock_ms(0);
        norvane::use_virtual_clock();
        base_ms_ = uint32_t(0u - hal_ms_clock());
        set_unit_ms(0);
    }
    // Sets the virtual clock so that the unit's millisecond clock reads `ms`.
    void set_unit_ms(uint64_t ms) { norvane::set_virtual_clock_ms(uint32_t(base_ms_ + ms)); }
    // Moves the unit's clock to `ms` after the start and takes every due frame.
    std::vector<can_frame> receive_at(uint64_t ms)
    {
        set_unit_ms(ms);
        std::vector<can_frame> out;
        can_frame f;
        while (out.size() < 1000 && can_port_receive(0, &f) == 0)
            out.push_back(f);
        return out;
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    TempDir dir_;
    uint32_t base_ms_ = 0;
};

}  // namespace

TEST_F(CanTrace, RecordIsDeliveredAtItsTimeAfterOpening)
{
    write_ctb(path("a.ctb"), {{1500000, 0x18FF0380, 0x01, 3, {13, 1, 1}}});
    set_unit_ms(200);
    ASSERT_TRUE(map_and_open(0, "trace:" + path("a.ctb")));
    EXPECT_TRUE(receive_at(1699).empty());
    const auto frames = receive_at(1700);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].id, 0x18FF0380u);
    EXPECT_EQ(frames[0].ext, 1) << "bit 0 marks an extended identifier";
    EXPECT_EQ(frames[0].len, 3);
    EXPECT_EQ(frames[0].data[0], 13);
    EXPECT_EQ(frames[0].time_us, 1500000u);
}

TEST_F(CanTrace, PlaybackLoopsWithANewStartTime)
{
    write_ctb(path("loop.ctb"), {{0, 0x100, 0, 0, {}}, {1000000, 0x200, 0, 0, {}}});
    ASSERT_TRUE(map_and_open(0, "trace:" + path("loop.ctb")));
    auto frames = receive_at(0);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].id, 0x100u);
    frames = receive_at(1000);
    ASSERT_EQ(frames.size(), 2u) << "the end of the file starts playback again at once";
    EXPECT_EQ(frames[0].id, 0x200u);
    EXPECT_EQ(frames[1].id, 0x100u);
    EXPECT_TRUE(receive_at(1999).empty());
    frames = receive_at(2000);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].id, 0x200u);
}

TEST_F(CanTrace, SkipBitIsSkippedAndExtendedBitIsBitZero)
{
    write_ctb(path("flags.ctb"), {
                                     {0, 0x111, 0x02, 1, {1}},        // skipped
                                     {0, 0x18FF0480, 0x01, 1, {2}},   // extended
                                     {0, 0x18FF0580, 0x03, 1, {3}},   // extended but skipped
                                     {0, 0x422, 0x00, 1, {4}},        // standard
                                 });
    ASSERT_TRUE(map_and_open(0, "trace:" + path("flags.ctb")));
    can_frame f;
    ASSERT_EQ(0, can_port_receive(0, &f));
    EXPECT_EQ(f.id, 0x18FF0480u);
    EXPECT_EQ(f.ext, 1);
    ASSERT_EQ(0, can_port_receive(0, &f));
    EXPECT_EQ(f.id, 0x422u);
    EXPECT_EQ(f.ext, 0);
}

TEST_F(CanTrace, LengthAboveEightTakesEightBytes)
{
    write_ctb(path("long.ctb"), {{0, 0x123, 0, 15, {1, 2, 3, 4, 5, 6, 7, 8}}, {0, 0x124, 0, 2, {9, 9}}});
    ASSERT_TRUE(map_and_open(0, "trace:" + path("long.ctb")));
    struct {
        can_frame f;
        uint8_t guard[16];
    } out{};
    std::memset(out.guard, 0x5A, sizeof out.guard);
    ASSERT_EQ(0, can_port_receive(0, &out.f));
    EXPECT_EQ(out.f.len, 8);
    EXPECT_EQ(out.f.data[7], 8);
    for (uint8_t g : out.guard)
        ASSERT_EQ(g, 0x5A);
    ASSERT_EQ(0, can_port_receive(0, &out.f));
    EXPECT_EQ(out.f.id, 0x124u);
}

// A file with nothing to play is refused when the port opens, with the
// reason in the port's status, instead of being searched on every receive.
TEST_F(CanTrace, TraceWithNothingToPlayIsRefusedAtOpenWithAReason)
{
    write_ctb(path("empty.ctb"), {});
    write_ctb(path("skipped.ctb"), {{0, 0x1, 0x02, 0, {}}, {5, 0x2, 0x02, 0, {}}});
    std::ofstream(path("blank.log")) << "(1.000000) can0 nonsense\n(2.0) can0 123#\n";
    std::ofstream(path("fd.log")) << "(1.000000) can0 123##1AABB\n";
    for (const char* name : {"empty.ctb", "skipped.ctb", "blank.log", "fd.log"}) {
        char why[256];
        ASSERT_TRUE(hal_can_map_port(0, ("trace:" + path(name)).c_str(), why, sizeof why));
        can_init();
        EXPECT_EQ(-1, can_port_open(0)) << name;
        can_port_status status;
        can_port_get_status(0, &status);
        EXPECT_EQ(std::string(status.reason), path(name) + " holds no frame to play");
        can_frame f;
        EXPECT_EQ(-1, can_port_receive(0, &f)) << name;
    }
}

// A FIFO (or any file that is not a regular one) would block the open or
// the read for ever.
TEST_F(CanTrace, FifoIsRefusedWithoutWaitingForAWriter)
{
    NORVANE_MAKE_FIFO(path("pipe"));
    char why[256];
    ASSERT_TRUE(hal_can_map_port(0, ("trace:" + path("pipe")).c_str(), why, sizeof why));
    can_init();
    auto opened = std::async(std::launch::async, [] { return can_port_open(0); });
    if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Unblock the open so the test can end, then fail.
        std::ofstream(path("pipe")) << "";
        FAIL() << "opening a FIFO as a trace blocks";
    }
    EXPECT_EQ(-1, opened.get());
    can_port_status status;
    can_port_get_status(0, &status);
    EXPECT_EQ(std::string(status.reason), path("pipe") + " is not a regular file");
}

// Playback costs in proportion to the frames it delivers: the file is read
// once at open (it may even be deleted then), and a pass does not read the
// skipped material again. Each case ran for tens of seconds when every pass
// read the file anew; here all of them take a fraction of a second.
TEST_F(CanTrace, SkippedMaterialIsReadOnceNotOnEveryPass)
{
    {
        std::ofstream log(path("fd.log"));
        log << "(0.000000) can0 123#01\n";
        for (int i = 0; i < 100000; ++i)
            log << "(0.000001) can0 123##1AABBCCDD\n";
    }
    {
        std::vector<Record> records(200000, Record{0, 0x1, 0x02, 0, {}});
        records.push_back({0, 0x7, 0, 1, {7}});
        write_ctb(path("skips.ctb"), records);
    }
    {
        std::ofstream log(path("long.log"));
        log << "(0.000000) can0 " << std::string(10u << 20, '1') << "\n(0.000000) can0 456#02\n";
    }
    for (const char* name : {"fd.log", "skips.ctb", "long.log"}) {
        ASSERT_TRUE(map_and_open(0, "trace:" + path(name))) << name;
        std::filesystem::remove(path(name));
        auto played = std::async(std::launch::async, [this] {
            size_t n = 0;
            for (uint64_t ms = 0; ms <= 200; ++ms) {
                set_unit_ms(ms);
                can_frame f;
                // As the port layer does: at most one ring's worth per pass.
                for (int k = 0; k < 239 && can_port_receive(0, &f) == 0; ++k)
                    ++n;
            }
            return n;
        });
        ASSERT_EQ(played.wait_for(std::chrono::seconds(20)), std::future_status::ready) << name << " is slow";
        EXPECT_EQ(played.get(), 201u * 239u) << name << ": a frame at time 0 plays on every receive";
    }
}

TEST_F(CanTrace, BadFilesDoNotOpen)
{
    write_ctb(path("v1.ctb"), {{0, 0x1, 0, 0, {}}}, 1);
    std::ofstream(path("junk.bin")) << "JUNK and more junk";
    std::ofstream(path("short.ctb")) << "CTB";
    char why[256];
    for (const char* name : {"v1.ctb", "junk.bin", "short.ctb", "missing.ctb"}) {
        ASSERT_TRUE(hal_can_map_port(0, ("trace:" + path(name)).c_str(), why, sizeof why));
        can_init();
        EXPECT_EQ(-1, can_port_open(0)) << name;
        can_frame f;
        EXPECT_EQ(-1, can_port_receive(0, &f)) << name;
    }
}

TEST_F(CanTrace, PartialLastRecordEndsThePass)
{
    write_ctb(path("cut.ctb"), {{0, 0x10, 0, 0, {}}});
    std::ofstream(path("cut.ctb"), std::ios::binary | std::ios::app) << "0123456789";
    ASSERT_TRUE(map_and_open(0, "trace:" + path("cut.ctb")));
    const auto frames = receive_at(0);
    ASSERT_EQ(frames.size(), 1000u) << "a due record plays again on every pass";
    for (const can_frame& f : frames)
        ASSERT_EQ(f.id, 0x10u);
}

TEST_F(CanTrace, CandumpLogPlaysBackRelativeToItsFirstFrame)
{
    std::ofstream(path("bus.log")) << "(1700000000.250000) can0 18FF0380#0D0101\n"
                                      "this line is not a frame\n"
                                      "\n"
                                      "(1700000001.750000) can1 422#0102030405060708 R\n"
                                      "(1700000002.000000) can0 123#R\n";
    set_unit_ms(40);
    ASSERT_TRUE(map_and_open(0, "trace:" + path("bus.log")));
    auto frames = receive_at(40);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].id, 0x18FF0380u);
    EXPECT_EQ(frames[0].ext, 1);
    EXPECT_EQ(frames[0].len, 3);
    EXPECT_EQ(frames[0].time_us, 0u);
    EXPECT_TRUE(receive_at(1539).empty());
    frames = receive_at(1540);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].id, 0x422u);
    EXPECT_EQ(frames[0].ext, 0);
    EXPECT_EQ(frames[0].data[7], 8);
    EXPECT_EQ(frames[0].time_us, 1500000u);
    frames = receive_at(1790);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0].id, 0x123u);
    EXPECT_EQ(frames[0].rtr, 1);
    EXPECT_EQ(frames[0].len, 0);
    EXPECT_EQ(frames[1].id, 0x18FF0380u) << "then the log starts over";
}

TEST_F(CanTrace, TracePortSendsNothingButSucceeds)
{
    write_ctb(path("a.ctb"), {{0, 0x1, 0, 0, {}}});
    ASSERT_TRUE(map_and_open(0, "trace:" + path("a.ctb")));
    const can_frame f = can_testing::frame(0x1, 0, {});
    EXPECT_EQ(0, can_port_send(0, &f));
}
