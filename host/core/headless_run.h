#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "seam/can.h"
#include "seam/frame.h"
#include "host/core/can_log.h"
#include "host/core/expectation.h"
#include "host/core/run_watcher.h"
#include "host/core/scenario.h"
#include "host/core/virtual_stepper.h"
#include "host/bus/bus_hub.h"
#include "host/bus/hub_bus_link.h"
#include "host/installation/installation_on_bus.h"
#include "host/installation/installation.h"

namespace norvane {

class UnitSession;

// Everything one run of norvane-run is asked to do.
struct run_options {
    std::string workdir = ".";
    // --start-from: a folder whose rootfs replaces the working folder's
    // before the unit starts; empty: the working folder as it is.
    std::string start_from;
    uint64_t duration_ms = 10000;
    bool realtime = false;
    std::string can_mapping[CAN_PORT_COUNT] = {"virtual", "virtual"};
    // Scenario actions and --screenshot requests, in order of time (file order
    // within one millisecond).
    std::vector<scenario_action> actions;
    std::string can_log;  // empty: no log
    std::string pcap;     // the same frames as a pcap capture (SocketCAN); empty: none
    // --installation [FILE]: the simulated installation on port 0 of the
    // virtual bus, described by the file read at parse time (the default
    // without FILE).
    bool installation = false;
    std::string installation_file;
    installation::description installation_layout = installation::default_description();
    std::string outputs_file;  // --outputs: the 64 loads at the end; empty: none
    bool quiet = false;
    bool help = false;
    // --bus-server: the virtual bus of this port on the network (socketcand,
    // real time only); -1: no server.
    int bus_server_can_port = -1;
    std::string bus_server_host = "127.0.0.1";
    uint16_t bus_server_port = 29536;
    // Every --scenario file in order (a folder gives its files). With one,
    // its actions are in `actions` and its expectations in `expectations`;
    // several run one after the other, each from a fresh unit.
    std::vector<scenario_file> scenarios;
    std::vector<expectation> expectations;
    std::string junit;              // JUnit XML report; empty: none
    std::string output_dir;         // failed screen pictures; empty: the working folder
    bool update_references = false; // write the pictures of 'expect screen' instead of comparing
    // Follows a virtual run (the expectations' check); not owned.
    run_watcher* watcher = nullptr;
    // Tests may take the screenshots in memory instead of as files.
    std::function<void(const std::string& file, const frame_buffer& frame)> on_screenshot;
};

// Status of a whole run: 0 ended as asked, 1 a file could not be written or
// an expectation failed, 2 bad arguments, a bad scenario or a CAN port that
// cannot be opened (nothing ran).
constexpr int RUN_OK = 0;
constexpr int RUN_FILE_ERROR = 1;
constexpr int RUN_BAD_INPUT = 2;

struct run_result {
    int status = RUN_OK;
    bool ran = false;        // the firmware was started
    uint64_t unit_ms = 0;    // unit time that ran
    double wall_s = 0.0;     // wall time it took
    bool firmware_exit = false;
    uint64_t can_refused = 0;  // frames a CAN back end would not take
};

// The longest run: the unit's millisecond clock is 32 bits wide.
constexpr uint64_t RUN_MAX_DURATION_MS = UINT32_MAX;

// norvane-run --help.
std::string run_usage();

// Reads norvane-run's command line (and the scenario file it names) into
// `options`. Returns RUN_OK, or RUN_BAD_INPUT with the message in `error`
// ("FILE:LINE: reason" for a scenario). --help sets options.help.
int parse_run_arguments(int argc, const char* const* argv, run_options& options, std::string& error);

// A run in virtual time, one millisecond after the other: at each unit
// millisecond t the actions due at t in their order, then sys_tick when t is a
// multiple of 10, then app_main_step when t is a multiple of 25. A screenshot
// at MS is the frame after the last main step at or before MS; frames no
// screenshot shows are not composed.
class VirtualRun {
public:
    explicit VirtualRun(run_options options);
    ~VirtualRun();
    VirtualRun(const VirtualRun&) = delete;
    VirtualRun& operator=(const VirtualRun&) = delete;

    // Prepares the working folder, maps the CAN ports, opens the CAN log and
    // boots the firmware (app_init, app_start). False with the reason.
    bool start(std::string& why);
    // After a failed start: RUN_BAD_INPUT when a CAN port could not be
    // opened, else RUN_FILE_ERROR.
    int start_status() const { return start_status_; }
    // Runs until unit time `t`, the end of the run, or the firmware's exit
    // request, whichever comes first.
    void run_until(uint64_t t);
    // Runs to the end, takes the last screenshots and closes the log.
    run_result finish();

    uint64_t now() const { return stepper_ ? stepper_->now() : 0; }
    uint64_t end_ms() const { return end_ms_; }
    bool ended() const;

private:
    void take_screenshots_before(uint64_t t);
    void screenshot(const scenario_action& action, const frame_buffer& frame);
    void apply(const scenario_action& action);

    run_options options_;
    uint64_t end_ms_ = 0;
    size_t next_action_ = 0;
    std::vector<const scenario_action*> shots_;  // due, in order of time
    size_t next_shot_ = 0;
    std::vector<uint64_t> looks_;  // times a screenshot or an expectation looks at the screen, sorted
    bool compose_all_ = false;
    // The unit's bench; the stepper is the session's.
    std::unique_ptr<UnitSession> session_;
    VirtualStepper* stepper_ = nullptr;
    bool firmware_exit_ = false;
    int status_ = RUN_OK;
    int start_status_ = RUN_FILE_ERROR;
    double wall_s_ = 0.0;
};

// The 64 loads as a small table: "PWRB1  1  on   PORT FORE CABIN" per output
// under a header line. False with the reason.
bool write_outputs_table(const std::string& path, const installation::plant& plant, std::string& why);

// Writes a screenshot by its file name: .png as PNG, else the 32-bit bitmap.
bool write_screenshot(const std::string& file, const frame_buffer& frame, std::string& why);

// A run on the firmware's two threads, paced by the wall clock.
run_result run_realtime(const run_options& options);

// The whole run as norvane-run does it: virtual time, or with
// options.realtime on the firmware's two threads paced by the wall clock.
run_result run_headless(const run_options& options);

// "ran D ms of unit time in S s (R x real time)"
std::string run_summary(const run_result& result);

}  // namespace norvane
