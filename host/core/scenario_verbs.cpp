#include "host/core/scenario_verbs.h"

#include <iterator>
#include <vector>

#include "seam/can_candump.h"
#include "host/core/expectation.h"
#include "host/common/scenario_words.h"

namespace norvane {
namespace {

// The end of a line of the unit's verbs: nothing after the last word.
std::string nothing_after(std::string_view rest, std::string_view last)
{
    return rest.empty() ? "" : "unexpected " + quote_word(rest) + " after " + quote_word(last);
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

// The installation's: the module kinds' verbs read and write the words.

std::string parse_plant(std::string_view rest, scenario_action& out)
{
    return out.plant.verb->parse(rest, out.plant);
}

std::string format_plant(const scenario_action& a)
{
    return a.plant.verb->format(a.plant);
}

const scenario_verb UNIT_ROWS[] = {
    {"press", action_kind::press, verb_group::unit, nullptr, parse_button, format_value,
     "  MS press N            button N (1..5, as F1..F5) goes down\n"},
    {"release", action_kind::release, verb_group::unit, nullptr, parse_button, format_value,
     "  MS release N          button N goes up\n"},
    {"event", action_kind::event, verb_group::unit, nullptr, parse_event, format_value,
     "  MS event E            test event E (0 or 1), as Event 1 / Event 2\n"},
    {"can", action_kind::can, verb_group::unit, nullptr, parse_can, format_can,
     "  MS can P ID#DATA      a frame arrives on CAN port P (0 or 1), candump syntax:\n"
     "                        3 hex digits = standard id, 8 = extended; 0 to 8 data bytes\n"},
    {"screenshot", action_kind::screenshot, verb_group::unit, nullptr, parse_screenshot, format_screenshot,
     "  MS screenshot FILE    as --screenshot MS:FILE\n"},
    {"exit", action_kind::exit, verb_group::unit, nullptr, parse_exit, format_nothing,
     "  MS exit               end the run at MS\n"},
};

// The unit's rows, then one for each of the installation's verbs.
std::vector<scenario_verb> all_rows()
{
    std::vector<scenario_verb> list(std::begin(UNIT_ROWS), std::end(UNIT_ROWS));
    for (size_t i = 0; const plant_verb* verb = installation::plant_verb_at(i); ++i)
        list.push_back({verb->word, action_kind::plant, verb_group::installation, verb, parse_plant, format_plant,
                        verb->usage});
    return list;
}

const std::vector<scenario_verb>& rows()
{
    static const std::vector<scenario_verb> list = all_rows();
    return list;
}

}  // namespace

const scenario_verb* scenario_verb_at(size_t index)
{
    return index < rows().size() ? &rows()[index] : nullptr;
}

const scenario_verb* scenario_verb_named(std::string_view verb)
{
    for (const scenario_verb& row : rows())
        if (verb == row.verb)
            return &row;
    return nullptr;
}

const scenario_verb* scenario_verb_of(const scenario_action& action)
{
    for (const scenario_verb& row : rows())
        if (row.kind == action.kind && row.plant == (action.kind == action_kind::plant ? action.plant.verb : nullptr))
            return &row;
    return nullptr;
}

std::string scenario_verb_list()
{
    std::string unit, installation;
    for (const scenario_verb& row : rows()) {
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
    out.plant.verb = row->plant;
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
    for (const scenario_verb& row : rows())
        (row.group == verb_group::unit ? unit : installation) += row.usage;
    return "Scenario file: one line each, '#' starts a comment, times in unit milliseconds\n"
           "from the start, never decreasing:\n" +
           unit + "With --installation, what happens on the boat:\n" + installation +
           "Expectations, checked in virtual time:\n" + expectation_usage();
}

}  // namespace norvane
