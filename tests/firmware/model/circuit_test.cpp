// Circuit command logic in virtual time: wall switches with their detectors,
// gate rows, timed overrides, page rows, fixed-off outputs, the circuit flags,
// and all 64 outputs against the installation's wiring.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "model/circuit.h"
#include "model_support.h"

namespace {

using norvane::testing::ModelFixture;

// Wall switches by their switch_snapshot position.
constexpr uint8_t SENB1_CH1 = 0, SENB1_CH2 = 1, SENB3_CH1 = 8, SENB3_CH2 = 9, SENB3_CH4 = 11;
constexpr uint8_t INSIDE_LIGHTS = 0, SAILING_LIGHT = 3, DINGHY_LIGHTS = 4;
constexpr uint8_t PORT_FORE_CABIN = 0;

void set_switch(uint8_t snapshot, uint8_t level)
{
    switch_input[snapshot / 4][snapshot % 4].store(level);
}

uint8_t output(uint8_t module, uint8_t out)  // PWRB module, output 1..8
{
    return circuit_command[module - 1][out - 1].load();
}

enum class Act { Switch, Request, Override, Expect };

struct Action {
    uint32_t ms;
    Act act;
    uint8_t index;       // switch position, request row or override row
    uint16_t value;      // level, request, override time, expected output
    uint8_t state = 0;   // override state
};

Action sw(uint32_t ms, uint8_t snapshot, uint8_t level) { return {ms, Act::Switch, snapshot, level}; }
Action req(uint32_t ms, uint8_t row, uint8_t on) { return {ms, Act::Request, row, on}; }
Action ovr(uint32_t ms, uint8_t row, uint16_t timer, uint8_t state)
{
    return {ms, Act::Override, row, timer, state};
}
Action expect(uint32_t ms, uint8_t on) { return {ms, Act::Expect, 0, on}; }

struct Scenario {
    const char* name;
    uint8_t module;  // PWRB1..8
    uint8_t output;  // 1..8
    std::vector<Action> actions;
};

// Scenarios start at 1000 ms, past the press lock-out that follows start-up.
// Inputs apply before the step at their time; expectations hold after it.
const Scenario SCENARIOS[] = {
    {"MasterOffBlocksTheSwitchAndTheOutputWaitsForTheNextPress", 1, 2,
     {sw(1000, SENB1_CH2, 1), expect(1000, 0), sw(1100, SENB1_CH2, 0), req(1200, INSIDE_LIGHTS, 1),
      expect(1200, 0), sw(1800, SENB1_CH2, 1), expect(1800, 1)}},
    {"PressTurnsOnAndASecondPress600msLaterTurnsOff", 1, 2,
     {req(1000, INSIDE_LIGHTS, 1), sw(1010, SENB1_CH2, 1), expect(1010, 1),
      sw(1100, SENB1_CH2, 0), sw(1610, SENB1_CH2, 1), expect(1610, 0)}},
    {"SecondPress300msLaterIsIgnoredAndNotDeferred", 1, 2,
     {req(1000, INSIDE_LIGHTS, 1), sw(1010, SENB1_CH2, 1), expect(1010, 1),
      sw(1100, SENB1_CH2, 0), sw(1310, SENB1_CH2, 1), expect(1310, 1), expect(2500, 1)}},
    {"RockerTogglesOnEveryFlipEitherWay", 1, 1,
     {req(1000, INSIDE_LIGHTS, 1), sw(1010, SENB1_CH1, 1), expect(1010, 1),
      sw(1020, SENB1_CH1, 0), expect(1020, 0), sw(1030, SENB1_CH1, 1), expect(1030, 1)}},
    {"MasterOffForcesTheOutputOffAndClearsItsMemory", 1, 1,
     {req(1000, INSIDE_LIGHTS, 1), sw(1010, SENB1_CH1, 1), expect(1010, 1),
      req(1020, INSIDE_LIGHTS, 0), expect(1020, 0), req(1030, INSIDE_LIGHTS, 1), expect(1030, 0),
      sw(1040, SENB1_CH1, 0), expect(1040, 1)}},
    {"OverrideOnHoldsUntilItsLastSecondThenContinuesFromOff", 1, 1,
     {ovr(1000, PORT_FORE_CABIN, 5, 1), expect(1000, 1),
      sw(1010, SENB1_CH1, 1), expect(1010, 1),  // lost during the override
      ovr(1020, PORT_FORE_CABIN, 4, 1), expect(1020, 1), ovr(1030, PORT_FORE_CABIN, 3, 1),
      expect(1030, 1), ovr(1040, PORT_FORE_CABIN, 2, 1), expect(1040, 1),
      ovr(1050, PORT_FORE_CABIN, 1, 1), expect(1050, 0), ovr(1060, PORT_FORE_CABIN, 0, 1),
      req(1060, INSIDE_LIGHTS, 1), expect(1060, 0), expect(1500, 0),
      sw(1510, SENB1_CH1, 0), expect(1510, 1)}},
    {"OverrideOffForcesOffForItsWholeDuration", 1, 1,
     {req(1000, INSIDE_LIGHTS, 1), sw(1010, SENB1_CH1, 1), expect(1010, 1),
      ovr(1020, PORT_FORE_CABIN, 3600, 0), expect(1020, 0), sw(1030, SENB1_CH1, 0),
      expect(1030, 0), ovr(1040, PORT_FORE_CABIN, 2, 0), expect(1040, 0),
      ovr(1050, PORT_FORE_CABIN, 0, 0), expect(1050, 0)}},
    {"DinghyCircuitIsGatedByDinghyLights", 5, 4,
     {req(1000, INSIDE_LIGHTS, 1), sw(1010, SENB3_CH2, 1), expect(1010, 0),
      sw(1020, SENB3_CH2, 0), req(1020, DINGHY_LIGHTS, 1), expect(1020, 0),
      sw(1530, SENB3_CH2, 1), expect(1530, 1)}},
    {"MasterCabinTogglesOnAFlipAndOnAPressButOnceForBoth", 5, 2,
     {req(1000, INSIDE_LIGHTS, 1), sw(1010, SENB3_CH1, 1), expect(1010, 1),
      sw(1020, SENB3_CH4, 1), expect(1020, 0), sw(1030, SENB3_CH4, 0), sw(1040, SENB3_CH1, 0),
      expect(1040, 1), sw(1600, SENB3_CH1, 1), sw(1600, SENB3_CH4, 1), expect(1600, 0)}},
};

void PrintTo(const Scenario& s, std::ostream* os)
{
    *os << s.name;
}

class CircuitScenario : public ModelFixture, public ::testing::WithParamInterface<Scenario> {};

TEST_P(CircuitScenario, Runs)
{
    const Scenario& s = GetParam();
    step_until(990);
    uint32_t end = 0;
    for (const Action& a : s.actions)
        end = std::max(end, a.ms);
    for (uint32_t t = 1000; t <= end; t += 10) {
        for (const Action& a : s.actions) {
            if (a.ms != t)
                continue;
            if (a.act == Act::Switch)
                set_switch(a.index, uint8_t(a.value));
            else if (a.act == Act::Request)
                circuit_request[a.index].store(uint8_t(a.value));
            else if (a.act == Act::Override) {
                override_timer[a.index].store(a.value);
                override_state[a.index].store(a.state);
            }
        }
        step();
        for (const Action& a : s.actions) {
            if (a.ms == t && a.act == Act::Expect) {
                EXPECT_EQ(output(s.module, s.output), a.value) << "at " << t << " ms";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Circuits, CircuitScenario, ::testing::ValuesIn(SCENARIOS),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

using CircuitLogic = ModelFixture;

TEST_F(CircuitLogic, SailingLightDrivesTwoOutputsInOneStep)
{
    step_until(1000);
    circuit_request[SAILING_LIGHT].store(1);
    step();
    EXPECT_EQ(output(5, 5), 1);
    EXPECT_EQ(output(8, 5), 1);
    circuit_request[SAILING_LIGHT].store(0);
    step();
    EXPECT_EQ(output(5, 5), 0);
    EXPECT_EQ(output(8, 5), 0);
}

TEST_F(CircuitLogic, PressWithinHalfASecondOfStartIsIgnored)
{
    circuit_request[INSIDE_LIGHTS].store(1);
    step_until(400);
    set_switch(SENB1_CH2, 1);
    step();
    EXPECT_EQ(output(1, 2), 0);
}

// The installation's wiring, written out independently of the model's table:
// "off", "page R", or "switch D:S[+D:S] ovr V gate G" with D = p (press) or
// c (change) and S a switch_snapshot position.
const char* const WIRING[8][8] = {
    {"switch c:0 ovr 0 gate 0", "switch p:1 ovr 4 gate 0", "page 0", "page 0", "page 0", "page 9", "off", "off"},
    {"page 6", "page 6", "page 7", "page 7", "page 7", "page 7", "off", "off"},
    {"switch p:6 ovr 2 gate 0", "switch c:5 ovr 1 gate 0", "page 13", "page 12", "off", "off", "off", "off"},
    {"switch c:4 ovr 3 gate 0", "page 0", "page 0", "off", "page 11", "page 10", "off", "off"},
    {"page 0", "switch c:8+p:11 ovr 8 gate 0", "page 0", "switch p:9 ovr 9 gate 4", "page 3", "page 14", "off", "off"},
    {"page 0", "switch p:10 ovr 7 gate 0", "page 0", "off", "page 8", "page 8", "off", "off"},
    {"switch c:2 ovr 5 gate 0", "switch p:3 ovr 6 gate 0", "page 0", "page 0", "page 8", "page 8", "off", "off"},
    {"page 15", "page 17", "page 2", "page 1", "page 3", "page 16", "page 5", "off"},
};

struct Wire {
    circuit_kind kind = CIRCUIT_FIXED_OFF;
    std::vector<std::pair<char, int>> inputs;
    int override_row = -1;
    int row = -1;
};

Wire parse_wire(const std::string& text)
{
    Wire w;
    if (text.rfind("page ", 0) == 0) {
        w.kind = CIRCUIT_PAGE;
        w.row = std::stoi(text.substr(5));
    } else if (text.rfind("switch ", 0) == 0) {
        w.kind = CIRCUIT_SWITCHED;
        const size_t ovr_at = text.find(" ovr ");
        const std::string inputs = text.substr(7, ovr_at - 7);
        size_t pos = 0;
        while (pos < inputs.size()) {
            const size_t end = std::min(inputs.find('+', pos), inputs.size());
            w.inputs.push_back({inputs[pos], std::stoi(inputs.substr(pos + 2, end - pos - 2))});
            pos = end + 1;
        }
        const size_t gate_at = text.find(" gate ");
        w.override_row = std::stoi(text.substr(ovr_at + 5, gate_at - ovr_at - 5));
        w.row = std::stoi(text.substr(gate_at + 6));
    }
    return w;
}

std::vector<std::pair<int, int>> outputs_on()
{
    std::vector<std::pair<int, int>> on;
    for (int p = 0; p < 8; ++p)
        for (int j = 0; j < 8; ++j)
            if (circuit_command[p][j].load())
                on.push_back({p + 1, j + 1});
    return on;
}

TEST_F(CircuitLogic, AllSixtyFourOutputsFollowTheWiring)
{
    for (int p = 0; p < 8; ++p) {
        for (int j = 0; j < 8; ++j) {
            const Wire w = parse_wire(WIRING[p][j]);
            const circuit_row& row = circuit_table[p][j];
            EXPECT_EQ(row.kind, w.kind) << "PWRB" << p + 1 << " output " << j + 1;
        }
    }
    step_until(1000);
    EXPECT_TRUE(outputs_on().empty());

    // Each page row on its own turns on exactly the page circuits wired to it.
    for (uint8_t r = 0; r < CIRCUIT_REQUEST_COUNT; ++r) {
        circuit_request[r].store(1);
        step();
        std::vector<std::pair<int, int>> expected;
        for (int p = 0; p < 8; ++p)
            for (int j = 0; j < 8; ++j) {
                const Wire w = parse_wire(WIRING[p][j]);
                if (w.kind == CIRCUIT_PAGE && w.row == r)
                    expected.push_back({p + 1, j + 1});
            }
        EXPECT_FALSE(expected.empty() && r != DINGHY_LIGHTS) << "row " << int(r) << " drives nothing";
        EXPECT_EQ(outputs_on(), expected) << "row " << int(r);
        circuit_request[r].store(0);
        step();
    }

    // Each switched circuit: its gate on, each input alone toggles it and
    // nothing else; its override forces it.
    uint32_t t = 1000;
    for (int p = 0; p < 8; ++p) {
        for (int j = 0; j < 8; ++j) {
            const Wire w = parse_wire(WIRING[p][j]);
            if (w.kind != CIRCUIT_SWITCHED)
                continue;
            const std::string where = "PWRB" + std::to_string(p + 1) + " output " + std::to_string(j + 1);
            circuit_request[w.row].store(1);
            const std::vector<std::pair<int, int>> pages_on = [&] {
                step();
                return outputs_on();
            }();
            for (const auto& [detector, snapshot] : w.inputs) {
                t = uint32_t(now_ms_) + 600;  // past any press lock-out
                step_until(t);
                set_switch(uint8_t(snapshot), 1);
                step();
                std::vector<std::pair<int, int>> expected = pages_on;
                expected.push_back({p + 1, j + 1});
                std::sort(expected.begin(), expected.end());
                EXPECT_EQ(outputs_on(), expected) << where << " input " << detector << ":" << snapshot;
                set_switch(uint8_t(snapshot), 0);
                step();
                // A rocker toggles back on the way down; a push button does not.
                EXPECT_EQ(output(uint8_t(p + 1), uint8_t(j + 1)), detector == 'c' ? 0 : 1) << where;
                if (detector == 'p') {
                    step_until(now_ms_ + 600);
                    set_switch(uint8_t(snapshot), 1);
                    step();
                    set_switch(uint8_t(snapshot), 0);
                    step();
                    EXPECT_EQ(output(uint8_t(p + 1), uint8_t(j + 1)), 0) << where;
                }
            }
            override_timer[w.override_row].store(10);
            override_state[w.override_row].store(1);
            step();
            EXPECT_EQ(output(uint8_t(p + 1), uint8_t(j + 1)), 1) << where << " override";
            override_timer[w.override_row].store(0);
            circuit_request[w.row].store(0);
            step();
            EXPECT_TRUE(outputs_on().empty()) << where;
        }
    }
}

TEST_F(CircuitLogic, FixedOffOutputsStayOffWhateverTheInputs)
{
    step_until(1000);
    for (int round = 0; round < 40; ++round) {
        for (uint8_t r = 0; r < CIRCUIT_REQUEST_COUNT; ++r)
            circuit_request[r].store(uint8_t((round + r) % 3 ? 1 : 0));
        for (uint8_t s = 0; s < SWITCH_SNAPSHOT_COUNT; ++s)
            set_switch(s, uint8_t((round >> (s % 3)) & 1));
        for (uint8_t v = 0; v < OVERRIDE_COUNT; ++v) {
            override_timer[v].store(uint16_t(round % 4 == 0 ? 0 : 100 + v));
            override_state[v].store(uint8_t(round % 2));
        }
        step_until(now_ms_ + 300);
        for (int p = 0; p < 8; ++p)
            for (int j = 0; j < 8; ++j)
                if (std::string(WIRING[p][j]) == "off") {
                    EXPECT_EQ(circuit_command[p][j].load(), 0) << "PWRB" << p + 1 << " output " << j + 1;
                }
    }
}

TEST_F(CircuitLogic, FlagAHoldsPageCircuitsOffAndFlagBTogglesThemOnce)
{
    step_until(1000);
    for (uint8_t r = 0; r < CIRCUIT_REQUEST_COUNT; ++r)
        circuit_request[r].store(1);
    step();
    ASSERT_EQ(output(8, 1), 1);
    settings_work.set_byte(SETTINGS_OFS_FLAG_A, 1);
    step();
    EXPECT_EQ(output(8, 1), 0);
    EXPECT_EQ(output(2, 1), 0);
    settings_work.set_byte(SETTINGS_OFS_FLAG_A, 0);
    step();
    EXPECT_EQ(output(8, 1), 1);

    settings_work.set_byte(SETTINGS_OFS_FLAG_B, 1);
    step();
    EXPECT_EQ(output(8, 1), 0);  // toggled for the step of the change
    EXPECT_EQ(output(1, 7), 0);  // fixed-off stays off
    step();
    EXPECT_EQ(output(8, 1), 1);
}

}  // namespace
