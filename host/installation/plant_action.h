// What happens on the boat, as a scenario line, a panel or a script says it:
// a verb and its action. The module kinds supply the verbs (their word,
// usage lines, reader and writer of the words after the word); the plant
// applies an action to the module it names, whose kind knows the verb.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace installation {

struct plant_action;

struct plant_verb {
    const char* word;   // the word after the time: "switch"
    const char* usage;  // its lines of the usage text, each ending in '\n'
    // Reads the words after the verb into `out` (whose verb the caller set);
    // "" or the reason.
    std::string (*parse)(std::string_view rest, plant_action& out);
    // The words after the verb, as parse reads them back.
    std::string (*format)(const plant_action& action);
};

struct plant_action {
    const plant_verb* verb = nullptr;
    int module = 0;        // the module's index in bus order (SENB1-4 are 0..3, PWRB1-8 4..11)
    int channel = 0;       // switch/push/volts: channel 0..9; tank: 0..3; fault: output 0..6
    int state = 0;         // fault: 0..3; module: 0 talking, 1 the kind's own setting (obeying)
    int code = 0;          // fault: 0..15
    bool on = false;       // switch; module talking or obeying
    uint64_t held_ms = 0;  // push
    double amount = 0;     // tank: percent; volts: volts
};

// The verbs in the order the usage lists them (the kinds' in bus order, then
// "module"); nullptr past the last.
const plant_verb* plant_verb_at(size_t index);
const plant_verb* plant_verb_named(std::string_view word);

// The verb every kind shares: "module NAME on|off", and a kind's own setting
// ("module PWRBp ignore|obey").
const plant_verb* module_verb();

}  // namespace installation
