#include "host/core/scenario_verbs.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "seam/can_candump.h"
#include "host/core/expectation.h"
#include "host/core/scenario_words.h"

namespace norvane {
namespace {

// A decimal number "12", "12.5" (no sign, no exponent) of at most `high`.
bool parse_decimal(std::string_view text, double high, double& out)
{
    if (text.empty() || text.size() > 12 || text.front() == '.' || text.back() == '.' ||
        std::count(text.begin(), text.end(), '.') > 1)
        return false;
    for (char c : text)
        if (c != '.' && (c < '0' || c > '9'))
            return false;
    const double v = std::strtod(std::string(text).c_str(), nullptr);
    if (v > high)
        return false;
    out = v;
    return true;
}

// The shortest decimal that parse_decimal reads back as `v`.
std::string format_decimal(double v)
{
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed).ptr;
    return std::string(text, end);
}

// "PREFIXn" with n in 1..count: n - 1, else -1.
int module_number(std::string_view word, std::string_view prefix, int count)
{
    if (word.size() != prefix.size() + 1 || word.substr(0, prefix.size()) != prefix)
        return -1;
    const int n = word.back() - '0';
    return n >= 1 && n <= count ? n - 1 : -1;
}

std::string number(int zero_based)
{
    return std::to_string(zero_based + 1);
}

const char* on_off(bool on)
{
    return on ? "on" : "off";
}

// The end of a line of the unit's verbs: nothing after the last word.
std::string nothing_after(std::string_view rest, std::string_view last)
{
    return rest.empty() ? "" : "unexpected " + quote_word(rest) + " after " + quote_word(last);
}

// The end of a line of the installation's verbs.
std::string nothing_at_end(std::string_view rest)
{
    return rest.empty() ? "" : "unexpected " + quote_word(rest) + " at the end of the line";
}

// The unit's inputs.

std::string parse_button(std::string_view rest, scenario_action& out)
{
    const std::string_view arg = take_word(rest);
    if (!parse_small(arg, 1, 5, out.value))
        return "button must be 1 to 5 (F1 to F5), found " + quote_word(arg);
    return nothing_after(rest, arg);
}

std::string parse_event(std::string_view rest, scenario_action& out)
{
    const std::string_view arg = take_word(rest);
    if (!parse_small(arg, 0, 1, out.value))
        return "event must be 0 or 1 (Event 1 or Event 2), found " + quote_word(arg);
    return nothing_after(rest, arg);
}

std::string format_value(const scenario_action& a)
{
    return std::to_string(a.value);
}

std::string parse_can(std::string_view rest, scenario_action& out)
{
    const std::string_view port = take_word(rest);
    if (!parse_small(port, 0, CAN_PORT_COUNT - 1, out.value))
        return "CAN port must be 0 or 1, found " + quote_word(port);
    const std::string_view frame = take_word(rest);
    if (frame.empty())
        return "expected a frame ID#DATA after the port";
    std::string why;
    if (!can_parse_candump(frame, out.frame, why))
        return "malformed frame " + quote_word(frame) + ": " + why;
    return nothing_after(rest, frame);
}

std::string format_can(const scenario_action& a)
{
    return std::to_string(a.value) + " " + can_format_candump(a.frame);
}

std::string parse_screenshot(std::string_view rest, scenario_action& out)
{
    // The file name is the rest of the line, blanks included.
    if (rest.empty())
        return "expected a file name after 'screenshot'";
    if (!screenshot_format_known(rest))
        return "screenshot file " + quote_word(rest) + " must end in .bmp or .png";
    out.file = rest;
    return "";
}

std::string format_screenshot(const scenario_action& a)
{
    return a.file;
}

std::string parse_exit(std::string_view rest, scenario_action&)
{
    return nothing_after(rest, "exit");
}

std::string format_nothing(const scenario_action&)
{
    return "";
}

// The installation's.

std::string parse_switch_or_push(std::string_view rest, plant_action& out)
{
    const std::string_view module = take_word(rest);
    out.module = module_number(module, "SENB", 3);
    if (out.module < 0)
        return "expected a switch module SENB1 to SENB3, found " + quote_word(module);
    const std::string_view channel = take_word(rest);
    if (!parse_small(channel, 1, 10, out.channel))
        return "channel must be 1 to 10, found " + quote_word(channel);
    --out.channel;
    const std::string_view last = take_word(rest);
    if (out.verb == plant_verb::switch_set) {
        if (last != "on" && last != "off")
            return "expected on or off after the channel, found " + quote_word(last);
        out.on = last == "on";
    } else if (!parse_ms(last, out.held_ms) || out.held_ms < 1 || out.held_ms > 3600000) {
        return "expected the time held, 1 to 3600000 ms, found " + quote_word(last);
    }
    return nothing_at_end(rest);
}

std::string parse_switch(std::string_view rest, scenario_action& out)
{
    out.plant.verb = plant_verb::switch_set;
    return parse_switch_or_push(rest, out.plant);
}

std::string format_switch(const scenario_action& a)
{
    return "SENB" + number(a.plant.module) + " " + number(a.plant.channel) + " " + on_off(a.plant.on);
}

std::string parse_push(std::string_view rest, scenario_action& out)
{
    out.plant.verb = plant_verb::push;
    return parse_switch_or_push(rest, out.plant);
}

std::string format_push(const scenario_action& a)
{
    return "SENB" + number(a.plant.module) + " " + number(a.plant.channel) + " " + std::to_string(a.plant.held_ms);
}

std::string parse_tank(std::string_view rest, scenario_action& out)
{
    plant_action& p = out.plant;
    p.verb = plant_verb::tank;
    const std::string_view tank = take_word(rest);
    if (!parse_small(tank, 1, 4, p.module))
        return "tank must be 1 to 4 (fuel 1, fuel 2, water 1, water 2), found " + quote_word(tank);
    --p.module;
    const std::string_view percent = take_word(rest);
    if (!parse_decimal(percent, 125, p.amount))
        return "expected a level of 0 to 125 percent, found " + quote_word(percent);
    return nothing_at_end(rest);
}

std::string format_tank(const scenario_action& a)
{
    return number(a.plant.module) + " " + format_decimal(a.plant.amount);
}

std::string parse_volts(std::string_view rest, scenario_action& out)
{
    plant_action& p = out.plant;
    p.verb = plant_verb::volts;
    const std::string_view channel = take_word(rest);
    if (!parse_small(channel, 1, 10, p.channel))
        return "SENB4 channel must be 1 to 10, found " + quote_word(channel);
    --p.channel;
    const std::string_view volts = take_word(rest);
    if (!parse_decimal(volts, 65.535, p.amount))
        return "expected volts of 0 to 65.535, found " + quote_word(volts);
    return nothing_at_end(rest);
}

std::string format_volts(const scenario_action& a)
{
    return number(a.plant.channel) + " " + format_decimal(a.plant.amount);
}

std::string parse_fault(std::string_view rest, scenario_action& out)
{
    plant_action& p = out.plant;
    p.verb = plant_verb::fault;
    const std::string_view module = take_word(rest);
    p.module = module_number(module, "PWRB", 8);
    if (p.module < 0)
        return "expected a power module PWRB1 to PWRB8, found " + quote_word(module);
    const std::string_view output = take_word(rest);
    if (!parse_small(output, 1, 7, p.channel))
        return "output must be 1 to 7 (the outputs that report state and code), found " + quote_word(output);
    --p.channel;
    const std::string_view state = take_word(rest);
    if (!parse_small(state, 0, 3, p.state))
        return "state must be 0 to 3, found " + quote_word(state);
    const std::string_view code = take_word(rest);
    if (!parse_small(code, 0, 15, p.code))
        return "code must be 0 to 15, found " + quote_word(code);
    return nothing_at_end(rest);
}

std::string format_fault(const scenario_action& a)
{
    return "PWRB" + number(a.plant.module) + " " + number(a.plant.channel) + " " + std::to_string(a.plant.state) +
           " " + std::to_string(a.plant.code);
}

// Modules 0..3 are SENB1..SENB4, 4..11 PWRB1..PWRB8.
constexpr int SENB_MODULES = 4;

std::string parse_module(std::string_view rest, scenario_action& out)
{
    plant_action& p = out.plant;
    const std::string_view module = take_word(rest);
    const int senb = module_number(module, "SENB", SENB_MODULES);
    const int pwrb = module_number(module, "PWRB", 8);
    if (senb < 0 && pwrb < 0)
        return "expected a module SENB1 to SENB4 or PWRB1 to PWRB8, found " + quote_word(module);
    p.module = senb >= 0 ? senb : SENB_MODULES + pwrb;
    const std::string_view what = take_word(rest);
    if (what == "on" || what == "off") {
        p.verb = plant_verb::module_power;
        p.on = what == "on";
    } else if ((what == "obey" || what == "ignore") && pwrb >= 0) {
        p.verb = plant_verb::module_obey;
        p.on = what == "obey";
    } else {
        return "expected on or off" + std::string(pwrb >= 0 ? ", obey or ignore" : "") + " after " +
               quote_word(module) + ", found " + quote_word(what);
    }
    return nothing_at_end(rest);
}

std::string format_module(const scenario_action& a)
{
    const plant_action& p = a.plant;
    const std::string name =
        p.module < SENB_MODULES ? "SENB" + number(p.module) : "PWRB" + number(p.module - SENB_MODULES);
    if (p.verb == plant_verb::module_obey)
        return name + (p.on ? " obey" : " ignore");
    return name + " " + on_off(p.on);
}

const scenario_verb ROWS[] = {
    {"press", action_kind::press, verb_group::unit, 0, parse_button, format_value,
     "  MS press N            button N (1..5, as F1..F5) goes down\n"},
    {"release", action_kind::release, verb_group::unit, 0, parse_button, format_value,
     "  MS release N          button N goes up\n"},
    {"event", action_kind::event, verb_group::unit, 0, parse_event, format_value,
     "  MS event E            test event E (0 or 1), as Event 1 / Event 2\n"},
    {"can", action_kind::can, verb_group::unit, 0, parse_can, format_can,
     "  MS can P ID#DATA      a frame arrives on CAN port P (0 or 1), candump syntax:\n"
     "                        3 hex digits = standard id, 8 = extended; 0 to 8 data bytes\n"},
    {"screenshot", action_kind::screenshot, verb_group::unit, 0, parse_screenshot, format_screenshot,
     "  MS screenshot FILE    as --screenshot MS:FILE\n"},
    {"exit", action_kind::exit, verb_group::unit, 0, parse_exit, format_nothing,
     "  MS exit               end the run at MS\n"},
    {"switch", action_kind::plant, verb_group::installation, plant_bit(plant_verb::switch_set), parse_switch,
     format_switch, "  MS switch SENBm CH on|off     wall switch CH (1..10) of SENB1..SENB3\n"},
    {"push", action_kind::plant, verb_group::installation, plant_bit(plant_verb::push), parse_push, format_push,
     "  MS push SENBm CH MS_HELD      push button CH pressed for MS_HELD ms\n"},
    {"tank", action_kind::plant, verb_group::installation, plant_bit(plant_verb::tank), parse_tank, format_tank,
     "  MS tank N PERCENT             tank N (1..4: fuel 1, fuel 2, water 1, water 2)\n"
     "                                at PERCENT (0..125, decimals allowed)\n"},
    {"volts", action_kind::plant, verb_group::installation, plant_bit(plant_verb::volts), parse_volts, format_volts,
     "  MS volts CH VOLTS             SENB4 channel CH (1..10) at VOLTS\n"},
    {"fault", action_kind::plant, verb_group::installation, plant_bit(plant_verb::fault), parse_fault, format_fault,
     "  MS fault PWRBp OUT STATE CODE output OUT (1..7) reports STATE (0..3), CODE (0..15)\n"},
    {"module", action_kind::plant, verb_group::installation,
     plant_bit(plant_verb::module_power) | plant_bit(plant_verb::module_obey), parse_module, format_module,
     "  MS module NAME on|off         module NAME (SENB1..4, PWRB1..8) talks or falls silent\n"
     "  MS module PWRBp ignore|obey   a power module stops (or resumes) obeying commands\n"},
};

}  // namespace

const scenario_verb* scenario_verb_at(size_t index)
{
    return index < std::size(ROWS) ? &ROWS[index] : nullptr;
}

const scenario_verb* scenario_verb_named(std::string_view verb)
{
    for (const scenario_verb& row : ROWS)
        if (verb == row.verb)
            return &row;
    return nullptr;
}

const scenario_verb* scenario_verb_of(const scenario_action& action)
{
    for (const scenario_verb& row : ROWS)
        if (row.kind == action.kind && (row.plant_verbs == 0 || (row.plant_verbs & plant_bit(action.plant.verb))))
            return &row;
    return nullptr;
}

std::string scenario_verb_list()
{
    std::string unit, installation;
    for (const scenario_verb& row : ROWS) {
        std::string& list = row.group == verb_group::unit ? unit : installation;
        list += (list.empty() ? "" : ", ") + std::string(row.verb);
    }
    return unit + ", expect, or " + installation;
}

std::string parse_action(std::string_view rest, scenario_action& out)
{
    const std::string_view verb = take_word(rest);
    if (verb.empty())
        return "expected an action after the time: " + scenario_verb_list();
    const scenario_verb* row = scenario_verb_named(verb);
    if (!row)
        return "unknown action " + quote_word(verb) + "; expected " + scenario_verb_list();
    out.kind = row->kind;
    return row->parse(rest, out);
}

std::string format_action(const scenario_action& action)
{
    std::string line = std::to_string(action.ms);
    const scenario_verb* row = scenario_verb_of(action);
    if (!row)
        return line;
    line += ' ';
    line += row->verb;
    const std::string words = row->format(action);
    if (!words.empty()) {
        line += ' ';
        line += words;
    }
    return line;
}

std::string scenario_usage()
{
    std::string unit, installation;
    for (const scenario_verb& row : ROWS)
        (row.group == verb_group::unit ? unit : installation) += row.usage;
    return "Scenario file: one line each, '#' starts a comment, times in unit milliseconds\n"
           "from the start, never decreasing:\n" +
           unit + "With --installation, what happens on the boat:\n" + installation +
           "Expectations, checked in virtual time:\n" + expectation_usage();
}

}  // namespace norvane
