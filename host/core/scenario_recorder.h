// What a person does to a unit, written as a scenario file norvane-run reads
// back: each input with the unit time it acted at (format_action), the
// checks asked for on the way (format_expectation), and at the end an exit
// line. Lines reach the file as they come, so a window that dies leaves the
// file up to then; closing writes it once more whole, in order of time, with
// the command line that runs it (which needs the end's time) in its first
// lines.
//
// Threads: one lock around everything; the unit's thread writes inputs and
// checks, the window's thread opens and closes.
#pragma once
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "host/core/expectation.h"
#include "host/core/scenario.h"
#include "host/installation/installation.h"
#include "seam/can.h"
#include "seam/frame.h"

namespace norvane {

// What the command line that replays a recording needs.
struct recording_options {
    std::string start_folder;       // as the command line names it: "NAME.unit"
    bool installation = false;
    std::string installation_file;  // empty: the default installation
    // The ports whose back end was not the virtual bus, as "can1 trace:bus.log":
    // what they gave the unit is written as 'can' lines, which the replay
    // puts on its virtual bus.
    std::vector<std::string> outside_ports;
};

class ScenarioRecorder {
public:
    ScenarioRecorder() = default;
    ~ScenarioRecorder();
    ScenarioRecorder(const ScenarioRecorder&) = delete;
    ScenarioRecorder& operator=(const ScenarioRecorder&) = delete;

    // Starts the file at `path` (replaced). False with the reason.
    bool open(const std::string& path, const recording_options& options, std::string& why);
    bool is_open() const;
    std::string path() const;

    void action(const scenario_action& action);
    void expect(const expectation& e);
    // Writes "END_MS exit" and the whole file again with its command line.
    // False with the reason (the file stays as far as it got).
    bool close(uint64_t end_ms, std::string& why);

    // The file's first lines: how to run it.
    static std::vector<std::string> header(const std::string& file_name, const recording_options& options,
                                           uint64_t end_ms);

    // The folder beside the scenario where its reference pictures and start
    // folder go, and the next free picture name there ("NAME_screen3.png").
    std::string next_picture_name();
    std::string folder() const;

private:
    void line(uint64_t ms, const std::string& text);
    struct timed_line {
        uint64_t ms;
        std::string text;
    };

    mutable std::mutex lock_;
    std::FILE* file_ = nullptr;
    std::string path_;
    recording_options options_;
    std::vector<timed_line> body_;
    int pictures_ = 0;
};

// "MS expect output PWRBp OUT on|off" for each of the 64 loads as `state`
// shows them at unit time `ms`.
std::vector<expectation> output_expectations(const installation::snapshot& state, uint64_t ms);

// The newest command frame the unit sent to each power module, kept from
// the unit's sent frames (one thread: the unit's).
class CommandFrames {
public:
    void sent(uint8_t port, uint64_t ms, const can_frame& frame);
    // "S expect can 0 ID#DATA within W" for each module's newest command,
    // S its send time and W the time from then to `now_ms`: the unit sent
    // that frame and nothing newer for that module.
    std::vector<expectation> expectations(uint64_t now_ms) const;

private:
    struct newest {
        bool seen = false;
        uint8_t port = 0;
        uint64_t ms = 0;
        can_frame frame{};
    };
    newest modules_[installation::POWER_MODULES];
};

}  // namespace norvane
