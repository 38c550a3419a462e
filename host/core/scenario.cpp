#include "host/core/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "seam/can_candump.h"
#include "host/common/regular_file.h"

namespace norvane {
namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A '#' at the start of a word starts a comment; inside a word it is the
// separator of a candump frame ("18FF0380#0D01").
std::string_view strip_comment(std::string_view line)
{
    for (size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' && (i == 0 || is_blank(line[i - 1])))
            return line.substr(0, i);
    return line;
}

bool parse_small(std::string_view text, int low, int high, int& out)
{
    uint64_t v = 0;
    if (!parse_ms(text, v) || v < uint64_t(low) || v > uint64_t(high))
        return false;
    out = int(v);
    return true;
}

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

// "PREFIXn" with n in 1..count: n - 1, else -1.
int module_number(std::string_view word, std::string_view prefix, int count)
{
    if (word.size() != prefix.size() + 1 || word.substr(0, prefix.size()) != prefix)
        return -1;
    const int n = word.back() - '0';
    return n >= 1 && n <= count ? n - 1 : -1;
}

std::string quoted(std::string_view word)
{
    return "'" + std::string(word) + "'";
}

// The words after a plant verb into `out`; "" or the reason.
std::string parse_plant(std::string_view verb, std::string_view& rest, plant_action& out)
{
    const std::string_view first = take_word(rest);
    int number = 0;
    if (verb == "switch" || verb == "push") {
        out.verb = verb == "switch" ? plant_verb::switch_set : plant_verb::push;
        out.module = module_number(first, "SENB", 3);
        if (out.module < 0)
            return "expected a switch module SENB1 to SENB3, found " + quoted(first);
        const std::string_view channel = take_word(rest);
        if (!parse_small(channel, 1, 10, number))
            return "channel must be 1 to 10, found " + quoted(channel);
        out.channel = number - 1;
        const std::string_view last = take_word(rest);
        if (verb == "switch") {
            if (last != "on" && last != "off")
                return "expected on or off after the channel, found " + quoted(last);
            out.on = last == "on";
        } else if (!parse_ms(last, out.held_ms) || out.held_ms < 1 || out.held_ms > 3600000) {
            return "expected the time held, 1 to 3600000 ms, found " + quoted(last);
        }
    } else if (verb == "tank") {
        out.verb = plant_verb::tank;
        if (!parse_small(first, 1, 4, number))
            return "tank must be 1 to 4 (fuel 1, fuel 2, water 1, water 2), found " + quoted(first);
        out.module = number - 1;
        const std::string_view percent = take_word(rest);
        if (!parse_decimal(percent, 125, out.amount))
            return "expected a level of 0 to 125 percent, found " + quoted(percent);
    } else if (verb == "volts") {
        out.verb = plant_verb::volts;
        if (!parse_small(first, 1, 10, number))
            return "SENB4 channel must be 1 to 10, found " + quoted(first);
        out.channel = number - 1;
        const std::string_view volts = take_word(rest);
        if (!parse_decimal(volts, 65.535, out.amount))
            return "expected volts of 0 to 65.535, found " + quoted(volts);
    } else if (verb == "fault") {
        out.verb = plant_verb::fault;
        out.module = module_number(first, "PWRB", 8);
        if (out.module < 0)
            return "expected a power module PWRB1 to PWRB8, found " + quoted(first);
        const std::string_view output = take_word(rest);
        if (!parse_small(output, 1, 7, number))
            return "output must be 1 to 7 (the outputs that report state and code), found " + quoted(output);
        out.channel = number - 1;
        const std::string_view state = take_word(rest);
        if (!parse_small(state, 0, 3, out.state))
            return "state must be 0 to 3, found " + quoted(state);
        const std::string_view code = take_word(rest);
        if (!parse_small(code, 0, 15, out.code))
            return "code must be 0 to 15, found " + quoted(code);
    } else {
        const int senb = module_number(first, "SENB", 4);
        const int pwrb = module_number(first, "PWRB", 8);
        if (senb < 0 && pwrb < 0)
            return "expected a module SENB1 to SENB4 or PWRB1 to PWRB8, found " + quoted(first);
        out.module = senb >= 0 ? senb : 4 + pwrb;
        const std::string_view what = take_word(rest);
        if (what == "on" || what == "off") {
            out.verb = plant_verb::module_power;
            out.on = what == "on";
        } else if ((what == "obey" || what == "ignore") && pwrb >= 0) {
            out.verb = plant_verb::module_obey;
            out.on = what == "obey";
        } else {
            return "expected on or off" + std::string(pwrb >= 0 ? ", obey or ignore" : "") + " after " +
                   quoted(first) + ", found " + quoted(what);
        }
    }
    if (!rest.empty())
        return "unexpected " + quoted(rest) + " at the end of the line";
    return "";
}

// Parses one line without its comment into `action`, or into `check` for an
// expectation line (`is_check` then set); "" or the reason.
std::string parse_line(std::string_view line, scenario_action& action, expectation& check, bool& is_check)
{
    std::string_view rest = line;
    const std::string_view time = take_word(rest);
    if (!parse_ms(time, action.ms))
        return "expected a time in milliseconds at the start of the line, found '" + std::string(time) +
               "'";
    const std::string_view verb = take_word(rest);
    if (verb.empty())
        return "expected an action after the time: press, release, event, can, screenshot, exit, "
               "expect, or switch, push, tank, volts, fault, module";

    if (verb == "expect") {
        is_check = true;
        check.ms = action.ms;
        check.where = action.where;
        return parse_expectation(rest, check);
    }

    if (verb == "screenshot") {
        // The file name is the rest of the line, blanks included.
        if (rest.empty())
            return "expected a file name after 'screenshot'";
        if (!screenshot_format_known(rest))
            return "screenshot file '" + std::string(rest) + "' must end in .bmp or .png";
        action.kind = action_kind::screenshot;
        action.file = rest;
        return "";
    }

    if (verb == "switch" || verb == "push" || verb == "tank" || verb == "volts" || verb == "fault" ||
        verb == "module") {
        action.kind = action_kind::plant;
        return parse_plant(verb, rest, action.plant);
    }

    std::string_view arg = take_word(rest);
    if (verb == "press" || verb == "release") {
        action.kind = verb == "press" ? action_kind::press : action_kind::release;
        if (!parse_small(arg, 1, 5, action.value))
            return "button must be 1 to 5 (F1 to F5), found '" + std::string(arg) + "'";
    } else if (verb == "event") {
        action.kind = action_kind::event;
        if (!parse_small(arg, 0, 1, action.value))
            return "event must be 0 or 1 (Event 1 or Event 2), found '" + std::string(arg) + "'";
    } else if (verb == "can") {
        action.kind = action_kind::can;
        if (!parse_small(arg, 0, CAN_PORT_COUNT - 1, action.value))
            return "CAN port must be 0 or 1, found '" + std::string(arg) + "'";
        const std::string_view frame = take_word(rest);
        if (frame.empty())
            return "expected a frame ID#DATA after the port";
        std::string why;
        if (!can_parse_candump(frame, action.frame, why))
            return "malformed frame '" + std::string(frame) + "': " + why;
        arg = frame;
    } else if (verb == "exit") {
        action.kind = action_kind::exit;
        if (!arg.empty())
            return "unexpected '" + std::string(arg) + "' after 'exit'";
        return "";
    } else {
        return "unknown action '" + std::string(verb) +
               "'; expected press, release, event, can, screenshot, exit, expect, or switch, push, tank, "
               "volts, fault, module";
    }
    if (!rest.empty())
        return "unexpected '" + std::string(rest) + "' after '" + std::string(arg) + "'";
    return "";
}

constexpr size_t SCENARIO_LINE_MAX = 1000;

// "" for a line the parser may quote in a message, else why not: a control
// byte (a NUL would cut the message short) or a line too long to repeat.
std::string check_line_bytes(std::string_view line)
{
    if (line.size() > SCENARIO_LINE_MAX)
        return "the line is " + std::to_string(line.size()) + " characters long; at most " +
               std::to_string(SCENARIO_LINE_MAX) + " are allowed";
    for (size_t i = 0; i < line.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7F) {
            char text[64];
            std::snprintf(text, sizeof text, "control byte 0x%02X in column %zu", unsigned(c), i + 1);
            return text;
        }
    }
    return "";
}

}  // namespace

bool parse_ms(std::string_view text, uint64_t& out)
{
    if (text.empty() || text.size() > 18)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + uint64_t(c - '0');
    }
    out = v;
    return true;
}

bool screenshot_format_known(std::string_view file)
{
    if (file.size() < 5)
        return false;
    std::string ext(file.substr(file.size() - 4));
    for (char& c : ext)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == ".bmp" || ext == ".png";
}

std::string_view take_word(std::string_view& rest)
{
    rest = trim(rest);
    size_t end = 0;
    while (end < rest.size() && !is_blank(rest[end]))
        ++end;
    const std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end);
    rest = trim(rest);
    return word;
}

bool parse_scenario(std::string_view text, const std::string& name, std::vector<scenario_action>& out,
                    std::vector<expectation>& expectations, std::string& error)
{
    out.clear();
    expectations.clear();
    const std::filesystem::path folder = std::filesystem::path(name).parent_path();
    uint64_t previous_ms = 0;
    size_t line_no = 0;
    while (!text.empty()) {
        ++line_no;
        const size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);

        const std::string_view content = trim(strip_comment(line));
        if (content.empty())
            continue;
        scenario_action action;
        action.where = name + ":" + std::to_string(line_no);
        expectation check;
        bool is_check = false;
        // Messages quote what they found: keep that short and printable.
        std::string why = check_line_bytes(content);
        if (why.empty())
            why = parse_line(content, action, check, is_check);
        if (why.empty() && action.ms < previous_ms)
            why = "time " + std::to_string(action.ms) + " goes backwards (the line before is at " +
                  std::to_string(previous_ms) + ")";
        if (!why.empty()) {
            error = action.where + ": " + why;
            out.clear();
            expectations.clear();
            return false;
        }
        previous_ms = action.ms;
        if (is_check) {
            if (check.kind == expect_kind::screen) {
                const std::filesystem::path file(check.file);
                check.reference = (file.is_absolute() ? file : folder / file).generic_string();
            }
            expectations.push_back(std::move(check));
        } else {
            out.push_back(std::move(action));
        }
    }
    return true;
}

bool parse_scenario(std::string_view text, const std::string& name,
                    std::vector<scenario_action>& out, std::string& error)
{
    std::vector<expectation> expectations;
    if (!parse_scenario(text, name, out, expectations, error))
        return false;
    if (expectations.empty())
        return true;
    error = expectations.front().where + ": this run checks no expectations";
    out.clear();
    return false;
}

namespace {

bool read_scenario_text(const std::string& path, std::string& text, std::string& error)
{
    // A scenario is lines of at most 1000 characters; 4 MiB is some 100,000
    // of them, far more than a run takes, and not all the memory there is.
    // A folder would read as an empty scenario, a FIFO would wait for a
    // writer: both are refused.
    constexpr uint64_t MAX_BYTES = 4u << 20;
    std::string why;
    if (!read_regular_file(path, MAX_BYTES, text, why)) {
        error = path + ": cannot read the scenario: " + why;
        return false;
    }
    return true;
}

}  // namespace

bool load_scenario(const std::string& path, std::vector<scenario_action>& out,
                   std::vector<expectation>& expectations, std::string& error)
{
    std::string text;
    return read_scenario_text(path, text, error) && parse_scenario(text, path, out, expectations, error);
}

bool load_scenario(const std::string& path, std::vector<scenario_action>& out, std::string& error)
{
    std::string text;
    return read_scenario_text(path, text, error) && parse_scenario(text, path, out, error);
}

bool load_scenario_files(const std::vector<std::string>& paths, std::vector<scenario_file>& out,
                         std::string& error)
{
    out.clear();
    for (const std::string& path : paths) {
        std::vector<std::string> files;
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            for (const auto& entry : std::filesystem::directory_iterator(path, ec))
                if (entry.path().extension() == ".txt" && !entry.is_directory())
                    files.push_back(entry.path().generic_string());
            if (ec) {
                error = path + ": cannot read the folder: " + ec.message();
                return false;
            }
            if (files.empty()) {
                error = path + ": the folder holds no scenario files (*.txt)";
                return false;
            }
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(path);
        }
        for (const std::string& file : files) {
            scenario_file one;
            one.path = file;
            if (!load_scenario(file, one.actions, one.expectations, error)) {
                out.clear();
                return false;
            }
            out.push_back(std::move(one));
        }
    }
    return true;
}

}  // namespace norvane
