// The unit as the Python module drives it: one UnitSession in virtual time,
// its working folder, a record of every frame on the bus, and the checks of
// the scenario expectations run on demand. No Python here: the module's
// bindings (norvane_module.cpp) wrap this class.
//
// One unit per process (the firmware keeps global records): a second one
// while one lives is refused; one after another, each starts from the state
// the program starts in.
//
// Threads: every public member takes the unit's lock, so Python threads may
// share a unit (run() holds it for as long as it runs); the session's taps
// run inside run() on the same thread.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/core/expectation.h"
#include "host/core/unit_session.h"
#include "host/installation/installation.h"
#include "seam/can.h"
#include "seam/frame.h"

namespace norvane {

// A bad argument: the module raises ValueError with the text.
struct bad_argument : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};
// The unit cannot start or a file cannot be written: RuntimeError.
struct unit_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One frame on the bus as the unit saw it.
struct recorded_frame {
    uint64_t time_us = 0;    // unit time it went on the bus
    uint8_t port = 0;
    bool from_unit = false;  // the unit sent it; else the unit received it
    const char* source = "";  // who put a received frame on the bus
    can_frame frame{};
};

struct unit_setup {
    std::string workdir;        // prepared if missing
    bool installation = false;  // the installation on port 0
    std::string installation_file;  // its description; empty: the default one
    std::string can1 = "virtual";   // the mapping of port 1
};

class PythonUnit {
public:
    explicit PythonUnit(const unit_setup& setup);
    ~PythonUnit();
    PythonUnit(const PythonUnit&) = delete;
    PythonUnit& operator=(const PythonUnit&) = delete;

    // Ends the unit; later calls raise (closed() is true). Idempotent.
    void close();
    bool closed() const;
    uint64_t now();
    const std::string& workdir() const { return workdir_; }
    bool has_installation();

    // Advances unit time by `ms`.
    void run(uint64_t ms);
    // Advances unit time until a frame on `port` after the first `seen`
    // frames of the record (one another source than `skip_source` put there)
    // or `max_ms` passed; the index of that frame, or -1.
    int64_t run_until_frame(uint8_t port, size_t seen, uint64_t max_ms, const char* skip_source);

    // Button 1..5 down or up, by the window's press rule.
    void set_key(int button, bool down);
    // Test event 0 or 1.
    void raise_event(int event);
    // One plant action in scenario words without the time ("switch SENB1 1 on").
    void apply_plant(const std::string& words);
    // A frame onto port `port`; false when the bus refused it.
    bool send(uint8_t port, const can_frame& frame, const char* source);

    // The presented frame; stays where it is until the next run.
    const frame_buffer& screen();

    // The record of frames from index `from` on.
    std::vector<recorded_frame> frames_from(size_t from);
    size_t frame_count();
    // Writes the whole record as a CAN log (candump log format).
    void save_can_log(const std::string& path);

    // Lamp of PWRB `pwrb` (0..7) output `output` (0..7).
    bool output(int pwrb, int output);
    // The 64 loads, lit or not, by label: "PWRBp/o" for one without a label,
    // "LABEL (PWRBp/o)" for a label several outputs share.
    std::vector<std::pair<std::string, bool>> outputs();

    // One scenario expectation ("can 0 18EFB000#80.. within 50", "screen
    // FILE max-diff 0") at the unit's time now, checked as a scenario checks
    // it: a frame check runs the unit until it passed or its window ended.
    // "" when it held, else the failure line a scenario prints. `where` is
    // the caller's "FILE:LINE"; `reference` the picture's path for screen.
    std::string expect(const std::string& words, const std::string& where, const std::string& reference,
                       const std::string& output_dir);

private:
    void need_open() const;
    installation::plant& need_plant();
    void record(uint8_t port, uint64_t time_us, bool from_unit, const char* source, const can_frame& frame);
    void advance(uint64_t ms);
    void step_one();

    std::mutex lock_;
    std::string workdir_;
    std::unique_ptr<UnitSession> session_;
    VirtualStepper* stepper_ = nullptr;
    std::vector<recorded_frame> record_;
    // The expectation a frame check is running, fed by the session's taps.
    ExpectationCheck* checking_ = nullptr;
    uint64_t end_ = 0;  // of the run under way: which frames it composes
};

}  // namespace norvane
