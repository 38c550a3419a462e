#include "host/core/scenario_recorder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host/core/bus_decode.h"
#include "host/core/scenario_verbs.h"

namespace norvane {

ScenarioRecorder::~ScenarioRecorder()
{
    if (file_)
        std::fclose(file_);
}

std::vector<std::string> ScenarioRecorder::header(const std::string& file_name, const recording_options& options,
                                                  uint64_t end_ms)
{
    std::string command = "norvane-run --scenario " + file_name;
    if (!options.start_folder.empty())
        command += " --start-from " + options.start_folder;
    if (options.installation)
        command += " --installation" + (options.installation_file.empty() ? "" : " " + options.installation_file);
    command += " --duration " + (end_ms ? std::to_string(end_ms) : std::string("END"));
    std::vector<std::string> lines = {
        "# Recorded in the simulator's window: every input with the unit time it acted at.",
        "# Run it from this file's folder (the unit starts from the folder --start-from names):",
        "#   " + command,
        "# add --junit report.xml for CI.",
    };
    for (const std::string& port : options.outside_ports)
        lines.push_back("# The frames " + port + " gave the unit are 'can' lines; the run puts them on its virtual bus.");
    if (!end_ms)
        lines.push_back("# (recording: END is the time of the exit line at the end)");
    return lines;
}

bool ScenarioRecorder::open(const std::string& path, const recording_options& options, std::string& why)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (file_) {
        why = "already recording into " + path_;
        return false;
    }
    // Binary: the same bytes (LF line ends) on every system.
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        why = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    options_ = options;
    body_.clear();
    pictures_ = 0;
    const std::string name = std::filesystem::path(path).filename().string();
    for (const std::string& text : header(name, options, 0))
        std::fprintf(file_, "%s\n", text.c_str());
    std::fflush(file_);
    return true;
}

bool ScenarioRecorder::is_open() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return file_ != nullptr;
}

std::string ScenarioRecorder::path() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return path_;
}

std::string ScenarioRecorder::folder() const
{
    std::lock_guard<std::mutex> hold(lock_);
    const std::filesystem::path parent = std::filesystem::path(path_).parent_path();
    return parent.empty() ? "." : parent.string();
}

std::string ScenarioRecorder::next_picture_name()
{
    std::lock_guard<std::mutex> hold(lock_);
    const std::string stem = std::filesystem::path(path_).stem().string();
    return stem + "_screen" + std::to_string(++pictures_) + ".png";
}

void ScenarioRecorder::line(uint64_t ms, const std::string& text)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (!file_)
        return;
    body_.push_back({ms, text});
    std::fprintf(file_, "%s\n", text.c_str());
    std::fflush(file_);
}

// Not recording, the line is not even written out (the window hands every
// input and every frame from a port's back end here).
void ScenarioRecorder::action(const scenario_action& action)
{
    if (is_open())
        line(action.ms, format_action(action));
}

void ScenarioRecorder::expect(const expectation& e)
{
    if (is_open())
        line(e.ms, format_expectation(e));
}

bool ScenarioRecorder::close(uint64_t end_ms, std::string& why)
{
    scenario_action exit;
    exit.ms = end_ms;
    exit.kind = action_kind::exit;
    line(end_ms, format_action(exit));
    std::lock_guard<std::mutex> hold(lock_);
    if (!file_)
        return true;
    bool ok = std::ferror(file_) == 0;
    std::fclose(file_);
    file_ = nullptr;
    if (!ok) {
        why = "cannot write " + path_;
        return false;
    }
    // Again whole, with the end's time in the command line.
    std::FILE* whole = std::fopen(path_.c_str(), "wb");
    if (!whole) {
        why = "cannot write " + path_ + ": " + std::strerror(errno);
        return false;
    }
    const std::string name = std::filesystem::path(path_).filename().string();
    for (const std::string& text : header(name, options_, end_ms))
        std::fprintf(whole, "%s\n", text.c_str());
    // In order of time, as the parser wants it: a command check names the
    // time its frame was sent, before inputs written earlier in the file.
    std::stable_sort(body_.begin(), body_.end(),
                     [](const timed_line& a, const timed_line& b) { return a.ms < b.ms; });
    for (const timed_line& text : body_)
        std::fprintf(whole, "%s\n", text.text.c_str());
    ok = std::ferror(whole) == 0;
    if (std::fclose(whole) != 0 || !ok) {
        why = "cannot write " + path_;
        return false;
    }
    return true;
}

std::vector<expectation> output_expectations(const installation::snapshot& state, uint64_t ms)
{
    std::vector<expectation> out;
    for (int p = 0; p < installation::POWER_MODULES; ++p)
        for (int o = 0; o < installation::POWER_OUTPUTS; ++o) {
            expectation e;
            e.ms = ms;
            e.kind = expect_kind::output;
            e.pwrb = p;
            e.output = o;
            e.on = state.outputs[p][o].lit();
            out.push_back(e);
        }
    return out;
}

void CommandFrames::sent(uint8_t port, uint64_t ms, const can_frame& frame)
{
    const BusFrameName name = bus_decode_frame(frame);
    if (name.message != "MSG_OUTPUT_COMMAND" || name.module.rfind("PWRB", 0) != 0)
        return;
    const int p = std::atoi(name.module.c_str() + 4) - 1;
    if (p < 0 || p >= installation::POWER_MODULES)
        return;
    modules_[p] = {true, port, ms, frame};
}

std::vector<expectation> CommandFrames::expectations(uint64_t now_ms) const
{
    std::vector<expectation> out;
    for (const newest& n : modules_) {
        if (!n.seen)
            continue;
        expectation e;
        e.ms = n.ms;
        e.kind = expect_kind::can;
        e.port = n.port;
        e.frame = n.frame;
        e.frame.time_us = 0;
        e.care = uint8_t((1u << (n.frame.len > 8 ? 8 : n.frame.len)) - 1u);
        e.window_ms = now_ms > n.ms ? now_ms - n.ms : 0;
        out.push_back(e);
    }
    return out;
}

}  // namespace norvane
