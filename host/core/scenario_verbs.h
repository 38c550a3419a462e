// The verbs of a scenario's action lines, one row each: the verb, the action
// it makes, its parser and formatter, and its line of norvane-run's usage. The
// scenario parser, the usage text and the "expected one of" lists all read
// the rows, so a new verb is its row and its two functions in
// scenario_verbs.cpp, and what the runs do with it. The installation's rows
// come from the module kinds' verbs (host/installation/plant_action.h).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "host/core/scenario.h"

namespace norvane {

// Where the usage lists a verb: the unit's own inputs, or what happens on the
// boat (only with the simulated installation).
enum class verb_group { unit, installation };

struct scenario_verb {
    const char* verb;  // the word after the time
    action_kind kind;
    verb_group group;
    // The installation's verb the row is; nullptr for the unit's rows.
    const plant_verb* plant;
    // Reads the words after the verb into `out` (whose kind the caller set);
    // "" or the reason.
    std::string (*parse)(std::string_view rest, scenario_action& out);
    // The words after the verb, as parse reads them back.
    std::string (*format)(const scenario_action& action);
    const char* usage;  // its lines of the usage text, each ending in '\n'
};

// The rows in the order the usage lists them; nullptr past the last.
const scenario_verb* scenario_verb_at(size_t index);
// The row of a verb, or of an action; nullptr when there is none.
const scenario_verb* scenario_verb_named(std::string_view verb);
const scenario_verb* scenario_verb_of(const scenario_action& action);

// Reads the words after the time of an action line: the verb and what
// follows it. "" or the reason (an unknown verb names the known ones).
std::string parse_action(std::string_view rest, scenario_action& out);

// The whole line the parser reads back: "2101 press 3".
std::string format_action(const scenario_action& action);

// The verbs a line may start with, as the messages list them: "press,
// release, ..., exit, expect, or switch, push, ...".
std::string scenario_verb_list();

// The scenario part of norvane-run's usage: the line format, every verb and
// every expectation.
std::string scenario_usage();

}  // namespace norvane
