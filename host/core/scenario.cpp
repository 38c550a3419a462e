#include "host/core/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/common/regular_file.h"
#include "host/core/scenario_verbs.h"

namespace norvane {
namespace {

// A '#' at the start of a word starts a comment; inside a word it is the
// separator of a candump frame ("18FF0380#0D01").
std::string_view strip_comment(std::string_view line)
{
    for (size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' && (i == 0 || is_word_blank(line[i - 1])))
            return line.substr(0, i);
    return line;
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
    const std::string_view after_time = rest;
    if (take_word(rest) == "expect") {
        is_check = true;
        check.ms = action.ms;
        check.where = action.where;
        return parse_expectation(rest, check);
    }
    return parse_action(after_time, action);
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

bool screenshot_format_known(std::string_view file)
{
    if (file.size() < 5)
        return false;
    std::string ext(file.substr(file.size() - 4));
    for (char& c : ext)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == ".bmp" || ext == ".png";
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

        const std::string_view content = trim_blanks(strip_comment(line));
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
                check.reference = (file.is_absolute() ? file : folder / file).string();
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
                    files.push_back(entry.path().string());
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
