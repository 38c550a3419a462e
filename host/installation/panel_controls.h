// What the installation panel shows: the module kinds describe their
// controls (module_kind::panel), each of a form the panel knows how to draw,
// with the action a person's use of it makes and how it reads the plant's
// snapshot. The panel (host/qt/installation_dock.cpp) draws the groups in
// bus order, then a box per module that turns it on or off, and forwards
// every action to the unit session as a scenario line would.
#pragma once
#include <string>
#include <vector>

#include "host/installation/installation.h"
#include "host/installation/plant_action.h"

namespace installation {

enum class control_form {
    heading,  // text only: a column's or a row's name
    rocker,   // a button that stays on or off: the verb with `on`
    push,     // a button on while held: the verb with on, then with off
    level,    // a slider of 0 to `top`, its reading beside: the verb with `amount`
    lamp,     // one output's lamp (its reading's lit and fault); unknown while its module is off
    fault,    // one item of the group's chooser, sent with a state and a code: the verb with them
    legend,   // the rocker and push button symbols, explained
};

struct panel_control {
    control_form form = control_form::heading;
    const plant_verb* verb = nullptr;  // what using it does; nullptr for one that only shows
    int module = 0;                    // the action's module (bus index) and channel
    int channel = 0;
    std::string name;  // its object name ("switch_1_1", "tank_1", "lamp_1_1"), "" for none
    std::string text;  // its label ("1 PORT FORE CABIN", "Fuel 1", "PWRB1/3")
    std::string tip;   // its tool tip
    int row = 0, column = 0, column_span = 1;
    int top = 100;     // level: the slider's maximum
};

// A box of the panel: its title and its controls on a grid.
struct panel_group {
    std::string title;
    std::vector<panel_control> controls;
};

// A control's reading from a snapshot: a lamp's state, a level's position
// and the text beside it.
struct panel_reading {
    bool lit = false;
    bool fault = false;
    double value = 0;  // level: the slider's position
    std::string text;  // level: what the label beside it says
};

// Every kind's groups, in bus order.
std::vector<panel_group> panel_groups(const description& d);
// A control's reading, from its module's kind.
panel_reading read_control(const description& d, const snapshot& s, const panel_control& c);
// What the module box of module m says when it is off, from its kind.
const char* module_silent_tip(int m);

}  // namespace installation
