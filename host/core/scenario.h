#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "seam/can.h"
#include "host/core/expectation.h"
#include "host/common/scenario_words.h"
#include "host/installation/plant_action.h"

namespace norvane {

// One timed action of a scenario file:
//   MS press N | MS release N | MS event E | MS can P ID#DATA
//   MS screenshot FILE | MS exit
// and, with the simulated installation attached, what happens on the boat:
//   MS switch SENBm CH on|off | MS push SENBm CH MS_HELD | MS tank N PERCENT
//   MS volts CH VOLTS | MS fault PWRBp OUT STATE CODE
//   MS module NAME off|on|ignore|obey
// scenario_verbs.cpp reads and writes each verb's words, the module kinds
// those of the installation's.
enum class action_kind { press, release, event, can, screenshot, exit, plant };

// What a plant action does to the installation: the module kinds' verbs
// (host/installation/plant_action.h).
using installation::plant_action;
using installation::plant_verb;

struct scenario_action {
    uint64_t ms = 0;
    action_kind kind = action_kind::exit;
    int value = 0;         // button 1..5, event 0..1, CAN port 0..1
    can_frame frame{};     // can
    plant_action plant;    // plant
    std::string file;      // screenshot: as written, relative to the runner's folder
    std::string where;     // "FILE:LINE", for messages during the run
};

// "MS can PORT ID#DATA": a frame put on the bus of port `port` at unit time `ms`.
inline scenario_action can_action(uint64_t ms, uint8_t port, const can_frame& frame)
{
    scenario_action a;
    a.ms = ms;
    a.kind = action_kind::can;
    a.value = port;
    a.frame = frame;
    return a;
}

// Parses the text of a scenario file: actions into `out`, expectation lines
// ("MS expect ...") into `expectations`. `name` is the file name messages
// carry; reference pictures named relative are taken from its folder.
// Returns false with "NAME:LINE: reason" for the first bad line; both lists
// then hold nothing.
bool parse_scenario(std::string_view text, const std::string& name, std::vector<scenario_action>& out,
                    std::vector<expectation>& expectations, std::string& error);
// The same for a caller that checks nothing: an expectation line is refused.
bool parse_scenario(std::string_view text, const std::string& name,
                    std::vector<scenario_action>& out, std::string& error);

// Reads and parses a scenario file; an unreadable file is an error too.
bool load_scenario(const std::string& path, std::vector<scenario_action>& out,
                   std::vector<expectation>& expectations, std::string& error);
bool load_scenario(const std::string& path, std::vector<scenario_action>& out, std::string& error);

// One scenario file of a run, read.
struct scenario_file {
    std::string path;
    std::vector<scenario_action> actions;
    std::vector<expectation> expectations;
};

// Reads the scenario files `paths` name in order; a folder stands for its
// scenario files (*.txt, by name). False with the reason of the first that
// cannot be read or parsed, or of a folder without scenario files.
bool load_scenario_files(const std::vector<std::string>& paths, std::vector<scenario_file>& out,
                         std::string& error);

// Whether a screenshot file name ends in a format the runner writes (.bmp,
// .png; either case).
bool screenshot_format_known(std::string_view file);

}  // namespace norvane
