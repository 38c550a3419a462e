#include "host/core/bus_signals.h"

#include <gtest/gtest.h>

#include <set>

#include "seam/can_candump.h"

namespace {

using namespace norvane;

can_frame frame_of(const char* text)
{
    can_frame f{};
    std::string why;
    EXPECT_TRUE(can_parse_candump(text, f, why)) << text << ": " << why;
    return f;
}

// Every frame of the bus as the decoder reads it, with the names of the
// default installation.
TEST(BusSignals, DecodesEveryMessageOfTheBus)
{
    const BusDecoder decoder;
    struct Case {
        const char* frame;
        const char* line;
    } cases[] = {
        {"18FF0380#0D01010000000000", "SENB1_CH4 ch4_form=13 ch4_rev=1 ch4_state=on"},
        {"18FF0081#0D01000000000000", "SENB2_CH1 ch1_form=13 ch1_rev=1 ch1_state=off"},
        // Any nonzero state byte is on, as the unit reads it.
        {"18FF0982#0D01070000000000", "SENB3_CH10 ch10_form=13 ch10_rev=1 ch10_state=on"},
        // Fuel: 2.5 V is 50 %; 6.5 V reads 125 %, the gauge's end.
        {"18FF0083#0A01C40900000000", "SENB4_CH1 ch1_form=10 ch1_rev=1 ch1_mv=2500 mV ch1_percent=50 %"},
        {"18FF0183#0A01641900000000", "SENB4_CH2 ch2_form=10 ch2_rev=1 ch2_mv=6500 mV ch2_percent=125 %"},
        // Water: 3.7 V is 50 %, 4.9 V and above empty, 2.5 V and below full.
        {"18FF0283#0A01740E00000000", "SENB4_CH3 ch3_form=10 ch3_rev=1 ch3_mv=3700 mV ch3_percent=50 %"},
        {"18FF0383#0A01B80B00000000", "SENB4_CH4 ch4_form=10 ch4_rev=1 ch4_mv=3000 mV ch4_percent=79.17 %"},
        {"18FF0383#0A01401F00000000", "SENB4_CH4 ch4_form=10 ch4_rev=1 ch4_mv=8000 mV ch4_percent=0 %"},
        {"18FF0383#0A01E80300000000", "SENB4_CH4 ch4_form=10 ch4_rev=1 ch4_mv=1000 mV ch4_percent=100 %"},
        // A channel past the tanks has millivolts only.
        {"18FF0983#0A01E80300000000", "SENB4_CH10 ch10_form=10 ch10_rev=1 ch10_mv=1000 mV"},
        {"18FFA0B2#00E42D0000000000",
         "PWRB3_STATUS out1_state=0 out2_state=1 out3_state=2 out4_state=3 out5_state=1 out6_state=3 out7_state=2"},
        {"18FFA1B7#0021436507000000",
         "PWRB8_CODES out1_code=1 out2_code=2 out3_code=3 out4_code=4 out5_code=5 out6_code=6 out7_code=7"},
        {"18EFB000#800045C10000",
         "PWRB1_COMMAND out1_command=on out2_command=on out3_command=off out4_command=on out5_command=on "
         "out6_command=off out7_command=off out8_command=on"},
        {"421#0000000000000000", "UNIT_TEST_STATUS word0=0 word1=0"},
        {"422#0B02000078563412", "UNIT_TEST_MESSAGE type=11 index=2 byte2=0 payload=305419896"},
        // What no one on this bus sends, and frames the receiver would refuse.
        {"18FF0384#0D01010000000000", "? (unknown identifier)"},
        {"14FF0080#0D01010000000000", "? (unknown identifier)"},
        {"18FF0380#", "SENB1_CH4 (length 0, the receiver wants 8)"},
        {"18FFA0B2#00E42D00000000",
         "PWRB3_STATUS out1_state=0 out2_state=1 out3_state=2 out4_state=3 out5_state=1 out6_state=3 "
         "out7_state=2 (length 7, the receiver wants 8)"},
        {"18EFB000#R", "? (remote request)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decoder.describe(frame_of(c.frame)), c.line) << c.frame;
    }
}

TEST(BusSignals, NamesComeFromTheInstallationsDescription)
{
    installation::description d = installation::default_description();
    d.output_labels[7][2] = "MASTHEAD";
    d.channels[0][3].label = "GALLEY";
    const BusDecoder decoder(d);
    const bus_message* message = nullptr;
    const bus_signal* out3 = decoder.find_signal("PWRB8", "out3_command", &message);
    ASSERT_NE(out3, nullptr);
    EXPECT_EQ(out3->label, "MASTHEAD");
    EXPECT_EQ(message->id, 0x18EFB700u);
    ASSERT_NE(decoder.find_signal("SENB1", "ch4_state"), nullptr);
    EXPECT_EQ(decoder.find_signal("SENB1", "ch4_state")->label, "GALLEY");
    EXPECT_EQ(decoder.find_signal("SENB1", "ch11_state"), nullptr);
    EXPECT_EQ(decoder.find_signal("PWRB9", "out1_command"), nullptr);
}

TEST(BusSignals, TableHasUniqueIdentifiersNamesAndSignalsThatFitTheirFrame)
{
    const std::vector<bus_message> table = bus_message_table(installation::default_description());
    // 40 channel frames, 3 x 8 power-module frames, the two test frames.
    EXPECT_EQ(table.size(), 40u + 24u + 2u);
    std::set<uint64_t> ids;
    std::set<std::string> names;
    for (const bus_message& m : table) {
        EXPECT_TRUE(ids.insert((uint64_t(m.ext) << 32) | m.id).second) << m.name;
        EXPECT_TRUE(names.insert(m.name).second) << m.name;
        for (const bus_signal& s : m.fields)
            EXPECT_LE(s.start_bit + s.length, m.length * 8) << m.name << " " << s.name;
    }
    // A module's signal names are unique across its messages, so a scenario
    // can name a signal by module alone.
    std::set<std::string> module_signals;
    for (const bus_message& m : table)
        for (const bus_signal& s : m.fields)
            EXPECT_TRUE(module_signals.insert(m.module + "." + s.name).second) << m.module << " " << s.name;
}

}  // namespace
