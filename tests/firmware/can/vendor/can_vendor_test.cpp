// The Kvaser and CANdo back ends against stand-in libraries, loaded by the
// vendors' file names through the system's real loader (dlopen from
// ./can-libs with LD_LIBRARY_PATH=can-libs on Linux, LoadLibrary from the
// current folder on Windows; standin_loader.h), each case in a folder of its
// own; each case ends with the libraries unloaded, so the next one loads
// them afresh.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "can/can_port.h"
#include "host/core/virtual_clock.h"
#include "platform/hal.h"
#include "standin.h"
#include "standin_loader.h"
#include "support/unit_fixture.h"

namespace fs = std::filesystem;

namespace {

class VendorLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_STREQ(standin_search_problem(), "");
        old_dir_ = fs::current_path();
        fs::current_path(dir_.path());
        norvane::set_virtual_clock_ms(0);
        norvane::use_virtual_clock();
    }
    void TearDown() override
    {
        // The back ends let go of the libraries with the unit's reset, the
        // test's own handles here.
        can_reset();
        for (void* lib : held_)
            standin_close(lib);
        fs::current_path(old_dir_);
    }

    // Puts a built stand-in into can-libs under the vendor's file name.
    void install(const char* built, const char* name)
    {
        // Relative to the folder the program started in (on Windows a path
        // from the root takes that folder's drive).
        standin_install(dir_.path(), old_dir_ / built, name);
    }

    // The stand-in's state record; loads the library if the port layer has
    // not yet (the port layer then shares this copy).
    template <typename State>
    State* state_of(const char* name, const char* function)
    {
        void* lib = standin_open(name);
        if (!lib)
            return nullptr;
        held_.push_back(lib);
        return reinterpret_cast<State* (*)()>(standin_symbol(lib, function))();
    }
    standin_canlib_state* canlib() { return state_of<standin_canlib_state>(standin_canlib_name(), "standin_canlib"); }
    standin_cando_state* cando() { return state_of<standin_cando_state>(standin_cando_name(), "standin_cando"); }

    void map(uint8_t port, const char* mapping)
    {
        char why[256];
        ASSERT_TRUE(hal_can_map_port(port, mapping, why, sizeof why)) << why;
        can_init();
    }

    norvane::testing::TempDir dir_;
    fs::path old_dir_;
    std::vector<void*> held_;
};

can_frame make_frame(uint32_t id, uint8_t ext, uint8_t len)
{
    can_frame f{};
    f.id = id;
    f.ext = ext;
    f.len = len;
    for (uint8_t i = 0; i < 8; ++i)
        f.data[i] = uint8_t(0x10 + i);
    return f;
}

}  // namespace

TEST_F(VendorLibrary, KvaserOpensChannelSetsBusAndWritesTheMappingLine)
{
    install(STANDIN_CANLIB, standin_canlib_name());
    standin_canlib_state* s = canlib();
    ASSERT_NE(s, nullptr);
    s->serial[0] = uint64_t(1) << 32 | 2;
    s->firmware[0] = uint64_t(2) << 48 | uint64_t(1) << 32 | uint64_t(4) << 16 | 3;
    map(0, "kvaser");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(-1, can_port_set_bitrate(0, 250000)) << "a port that is not open only keeps the rate";
    EXPECT_EQ(0, can_port_open(0));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "KVASER: Mapped CAN port 1 to Kvaser (Ch:0, Ser:(1)2, Fw:1.2.3.4)\n");
    EXPECT_EQ(s->open_channel, 0);
    EXPECT_EQ(s->open_flags, 0x30);
    EXPECT_EQ(s->bus_freq, -3) << "250 kbit/s is canBITRATE_250K";
    EXPECT_EQ(s->driver, 4u);
    EXPECT_EQ(s->bus_on, 1);
    EXPECT_EQ(0, can_port_open(0)) << "an open port stays open";
    EXPECT_EQ(s->open_calls, 1);
}

TEST_F(VendorLibrary, KvaserChannelComesFromTheDeviceStringElseThePortNumber)
{
    install(STANDIN_CANLIB, standin_canlib_name());
    standin_canlib_state* s = canlib();
    ASSERT_NE(s, nullptr);
    map(0, "kvaser:2");
    ASSERT_EQ(0, can_port_open(0));
    EXPECT_EQ(s->open_channel, 2);
    map(1, "kvaser");
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(0, can_port_open(1));
    EXPECT_EQ(s->open_channel, 1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("CAN port 2 to Kvaser (Ch:1,"), std::string::npos);
}

TEST_F(VendorLibrary, KvaserBitRateChangeReopensAtTheNewRate)
{
    install(STANDIN_CANLIB, standin_canlib_name());
    standin_canlib_state* s = canlib();
    ASSERT_NE(s, nullptr);
    map(0, "kvaser");
    EXPECT_EQ(-1, can_port_set_bitrate(0, 500000));
    ASSERT_EQ(0, can_port_open(0));
    EXPECT_EQ(s->bus_freq, -2);
    const struct {
        uint32_t rate;
        long constant;
    } rates[] = {{125000, -4}, {1000000, -1}, {250000, -3}};
    for (const auto& r : rates) {
        EXPECT_EQ(0, can_port_set_bitrate(0, r.rate));
        EXPECT_EQ(s->bus_freq, r.constant) << r.rate;
    }
    EXPECT_EQ(s->close_calls, 3);
    EXPECT_EQ(s->open_calls, 4);
    EXPECT_EQ(s->bus_on, 1);
}

TEST_F(VendorLibrary, KvaserSendsWithTheExtendedFlagAndReceivesWithTime)
{
    install(STANDIN_CANLIB, standin_canlib_name());
    standin_canlib_state* s = canlib();
    ASSERT_NE(s, nullptr);
    s->received[0] = standin_message{0x18FF0380, 3, 0x04, 1234, {13, 1, 1}};
    s->received[1] = standin_message{0x422, 12, 0x02, 1235, {1, 2, 3, 4, 5, 6, 7, 8}};
    s->received_count = 2;
    map(0, "kvaser");
    ASSERT_EQ(0, can_port_open(0));

    can_queue_frame(0, 0x18EF0102, 1, 8, make_frame(0, 0, 0).data);
    can_queue_frame(0, 0x421, 0, 2, make_frame(0, 0, 0).data);
    can_flush_transmit();
    ASSERT_EQ(s->written_count, 2);
    EXPECT_EQ(s->written[0].id, 0x18EF0102);
    EXPECT_EQ(s->written[0].flags, 0x04u);
    EXPECT_EQ(s->written[0].dlc, 8u);
    EXPECT_EQ(s->written[1].id, 0x421);
    EXPECT_EQ(s->written[1].flags, 0u);
    EXPECT_EQ(s->written[1].dlc, 2u);
    EXPECT_EQ(s->written[1].data[1], 0x11);

    can_frame f;
    ASSERT_EQ(0, can_port_receive(0, &f));
    EXPECT_EQ(f.id, 0x18FF0380u);
    EXPECT_EQ(f.ext, 1);
    EXPECT_EQ(f.len, 3);
    EXPECT_EQ(f.time_us, 1234000u);
    ASSERT_EQ(0, can_port_receive(0, &f));
    EXPECT_EQ(f.ext, 0);
    EXPECT_EQ(f.len, 8) << "a length above 8 takes 8 bytes";
    EXPECT_EQ(-1, can_port_receive(0, &f));
}

TEST_F(VendorLibrary, KvaserWithoutLibraryFailsQuietly)
{
    map(0, "kvaser");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(-1, can_port_open(0));
    const can_frame f = make_frame(0x421, 0, 8);
    EXPECT_EQ(-1, can_port_send(0, &f));
    can_frame out;
    EXPECT_EQ(-1, can_port_receive(0, &out));
    EXPECT_EQ(-1, can_port_set_bitrate(0, 250000));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(VendorLibrary, KvaserLibraryMissingAFunctionIsReleasedAndTriedAgain)
{
    install(STANDIN_CANLIB_INCOMPLETE, standin_canlib_name());
    map(0, "kvaser");
    EXPECT_EQ(-1, can_port_open(0));
    EXPECT_FALSE(standin_loaded(standin_canlib_name())) << "the incomplete library stays loaded";
    install(STANDIN_CANLIB, standin_canlib_name());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(0, can_port_open(0));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("KVASER: Mapped CAN port 1"), std::string::npos);
}

TEST_F(VendorLibrary, KvaserOpenFailureWritesTheFailureLine)
{
    install(STANDIN_CANLIB, standin_canlib_name());
    standin_canlib_state* s = canlib();
    ASSERT_NE(s, nullptr);
    s->fail_item = 9;
    map(1, "kvaser:7");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(-1, can_port_open(1));
    s->fail_item = 0;
    EXPECT_EQ(-1, can_port_open(1)) << "channel 7 does not exist";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "KVASER: Failed to map CAN port 2 to Kvaser\nKVASER: Failed to map CAN port 2 to Kvaser\n");
    const can_frame f = make_frame(0x1, 0, 0);
    EXPECT_EQ(-1, can_port_send(1, &f));
}

namespace {
void set_devices(standin_cando_state* s, std::initializer_list<const char*> serials)
{
    s->device_count = 0;
    for (const char* serial : serials) {
        TCANdoDevice& d = s->devices[s->device_count++];
        d.HardwareType = 1;
        std::strcpy(d.SerialNumber, serial);
    }
}
}  // namespace

TEST_F(VendorLibrary, CandoChoosesTheAdapterBySerialOrByPortNumber)
{
    install(STANDIN_CANDO, standin_cando_name());
    standin_cando_state* s = cando();
    ASSERT_NE(s, nullptr);
    set_devices(s, {"CD0001", "CD0002", "CD0003"});
    map(0, "cando:CD0003");
    map(1, "cando");
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(0, can_port_open(0));
    EXPECT_STREQ(s->opened_serial, "CD0003");
    ASSERT_EQ(0, can_port_open(1));
    EXPECT_STREQ(s->opened_serial, "CD0002") << "port 1 takes the second adapter";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "CANDO: Mapped CAN port 1 to CANdo (Ser:CD0003)\nCANDO: Mapped CAN port 2 to CANdo (Ser:CD0002)\n");
    EXPECT_EQ(s->baud_calls, 2);
    const unsigned char timing_250k[6] = {0, 1, 7, 7, 2, 0};
    EXPECT_EQ(0, std::memcmp(s->baud, timing_250k, 6));
    EXPECT_EQ(s->mode, 0);
    EXPECT_EQ(s->flushed, 2);
    EXPECT_EQ(s->state, 1);
}

TEST_F(VendorLibrary, CandoWithOneAdapterServesPortOneAndUnknownSerialFails)
{
    install(STANDIN_CANDO, standin_cando_name());
    standin_cando_state* s = cando();
    ASSERT_NE(s, nullptr);
    set_devices(s, {"ONLY"});
    map(1, "cando");
    map(0, "cando:OTHER");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(0, can_port_open(1));
    EXPECT_STREQ(s->opened_serial, "ONLY");
    EXPECT_EQ(-1, can_port_open(0));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "CANDO: Mapped CAN port 2 to CANdo (Ser:ONLY)\nCANDO: Failed to map CAN port 1 to CANdo\n");
}

TEST_F(VendorLibrary, CandoSendsAndReceivesWithLengthCappedAndTimeIn25_6usUnits)
{
    install(STANDIN_CANDO, standin_cando_name());
    standin_cando_state* s = cando();
    ASSERT_NE(s, nullptr);
    set_devices(s, {"CD1"});
    map(0, "cando");
    ASSERT_EQ(0, can_port_open(0));
    EXPECT_EQ(0, can_port_set_bitrate(0, 500000));
    const unsigned char timing_500k[6] = {0, 0, 7, 7, 2, 0};
    EXPECT_EQ(0, std::memcmp(s->baud, timing_500k, 6));

    const can_frame out = make_frame(0x18EF0102, 1, 5);
    ASSERT_EQ(0, can_port_send(0, &out));
    ASSERT_EQ(0, can_port_send(0, &out)) << "a second frame in the same millisecond waits, then goes";
    ASSERT_EQ(s->sent_count, 2);
    EXPECT_EQ(s->sent[0].ext, 1);
    EXPECT_EQ(s->sent[0].id, 0x18EF0102u);
    EXPECT_EQ(s->sent[0].len, 5);
    EXPECT_EQ(s->sent[0].data[4], 0x14);

    TCANdoCAN long_entry{};
    long_entry.IDE = 1;
    long_entry.ID = 0x18FF0380;
    long_entry.DLC = 15;
    std::memset(long_entry.Data, 0x77, 8);
    long_entry.TimeStamp = 1000;
    TCANdoCAN short_entry{};
    short_entry.ID = 0x422;
    short_entry.DLC = 2;
    short_entry.TimeStamp = 0xFFFFFFFF;
    s->pending[0] = long_entry;
    s->pending[1] = short_entry;
    s->pending_count = 2;

    struct {
        can_frame f;
        uint8_t guard[16];
    } in{};
    std::memset(in.guard, 0x5A, sizeof in.guard);
    norvane::set_virtual_clock_ms(5);
    ASSERT_EQ(0, can_port_receive(0, &in.f));
    EXPECT_EQ(in.f.ext, 1);
    EXPECT_EQ(in.f.id, 0x18FF0380u);
    EXPECT_EQ(in.f.len, 8);
    EXPECT_EQ(in.f.time_us, 25600u);
    for (uint8_t g : in.guard)
        ASSERT_EQ(g, 0x5A);
    ASSERT_EQ(0, can_port_receive(0, &in.f));
    EXPECT_EQ(in.f.id, 0x422u);
    EXPECT_EQ(in.f.ext, 0);
    EXPECT_EQ(in.f.time_us, 0xFFFFFFFFull * 256 / 10);
    EXPECT_EQ(-1, can_port_receive(0, &in.f));
    EXPECT_EQ(s->receive_calls, 1) << "the adapter's buffer is refreshed once per millisecond";
}

TEST_F(VendorLibrary, CandoWithoutAdaptersOrLibraryFails)
{
    map(0, "cando");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(-1, can_port_open(0));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    install(STANDIN_CANDO, standin_cando_name());
    standin_cando_state* s = cando();
    ASSERT_NE(s, nullptr);
    s->fail_get_devices = 1;
    set_devices(s, {"CD1"});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(-1, can_port_open(0));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "CANDO: Failed to map CAN port 1 to CANdo\n");
}
