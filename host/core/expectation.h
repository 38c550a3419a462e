#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "seam/can.h"
#include "seam/frame.h"
#include "host/core/run_watcher.h"

namespace norvane {

// One expectation line of a scenario file, checked in virtual time:
//   MS expect can P ID#DATA [within W]   the unit sends that frame on port P
//                                        between MS and MS+W ('..' for a byte
//                                        that does not matter)
//   MS expect no-can P ID [for W]        no frame with that identifier on port
//                                        P from MS to MS+W
//   MS expect screen FILE.png [max-diff N]
//                                        the screen at MS is the reference
//                                        picture, with at most N pixels apart
//   MS expect pixel X Y RRGGBB           one pixel of the screen at MS
//   MS expect file PATH TEXT             a file of the unit's file system
//                                        holds TEXT at MS
//   MS expect output PWRBp OUT on|off    the installation's output is lit
//                                        (or not) at MS
//   MS expect signal MODULE SIGNAL VALUE [within W]
//                                        a frame on the bus between MS and
//                                        MS+W carries the decoded signal with
//                                        that value (on/off, or a number)
enum class expect_kind { can, no_can, screen, pixel, file, output, signal };

constexpr uint64_t EXPECT_CAN_WITHIN_MS = 100;
constexpr uint64_t EXPECT_NO_CAN_FOR_MS = 100;

struct expectation {
    uint64_t ms = 0;
    expect_kind kind = expect_kind::can;
    int port = 0;                              // can, no-can
    can_frame frame{};                         // can: the frame; no-can, signal: id and ext
    uint8_t care = 0;                          // can: bit i set when data byte i must match
    uint64_t window_ms = EXPECT_CAN_WITHIN_MS;  // can, signal: within; no-can: for
    std::string file;                          // screen: as written; file: the unit's path
    std::string reference;                     // screen: the picture's path to open
    uint32_t max_diff = 0;                     // screen
    int x = 0;                                 // pixel
    int y = 0;
    uint32_t rgb = 0;                          // pixel: 0xRRGGBB
    std::string text;                          // file: what it holds, escapes undone
    int pwrb = 0;                              // output: PWRB 0..7
    int output = 0;                            // output: 0..7
    bool on = false;                           // output
    std::string module;                        // signal: "PWRB1"
    std::string signal;                        // signal: "out3_command"
    double value = 0.0;                        // signal: the value expected
    std::string value_text;                    // signal: as written
    std::string where;                         // "FILE:LINE"
};

// Parses the words after "MS expect" into `out` (whose ms and where the
// caller set); "" or the reason. Never reads past `rest`.
std::string parse_expectation(std::string_view rest, expectation& out);

// The expectation part of norvane-run's usage: every kind's lines.
std::string expectation_usage();

// The whole line the scenario parser reads back: "2000 expect can 0 18EFB000#01..",
// with every optional word written out.
std::string format_expectation(const expectation& e);

// Why an expectation cannot be checked in a run that ends at `end_ms` ("" when
// it can): it is due after the end, or its no-can window reaches past it.
std::string expectation_after_end(const expectation& e, uint64_t end_ms);

// How the checks treat screens and files.
struct check_options {
    bool update_references = false;  // write the reference pictures instead of comparing
    std::string output_dir = ".";    // where FILE_err.png of a failed screen goes
    std::string unit_dir = ".";      // the unit's working folder (rootfs/ in it)
};

enum class expect_state { open, passed, failed, written };

struct expect_outcome {
    expect_state state = expect_state::open;
    std::string detail;  // what was seen, for a failure; what was written
};

// Checks a scenario's expectations as a virtual run goes by: the screen and
// the files just before each unit millisecond, the frames as the unit sends
// them. Deterministic: it sees only what the run shows.
class ExpectationCheck : public run_watcher {
public:
    ExpectationCheck(std::vector<expectation> expectations, check_options options);

    void before(uint64_t t, const frame_buffer& screen) override;
    void sent(uint8_t port, uint64_t ms, const can_frame& frame) override;
    void heard(uint8_t port, uint64_t ms, const can_frame& frame) override;
    void finished(uint64_t end_ms, bool firmware_exit) override;
    void attach_outputs(std::function<int(int pwrb, int output)> lit) override { output_lit = std::move(lit); }

    // The installation's outputs for 'expect output': 1 lit, 0 dark, -1 when
    // no installation is attached. Set by the run that has one.
    std::function<int(int pwrb, int output)> output_lit;

    const std::vector<expectation>& expectations() const { return list_; }
    const std::vector<expect_outcome>& outcomes() const { return outcomes_; }
    size_t count(expect_state state) const;
    // "FILE:LINE: LINE AS WRITTEN: what was seen", one per failed expectation.
    std::vector<std::string> failure_lines() const;
    // "FILE:LINE: wrote REFERENCE", one per reference picture written.
    std::vector<std::string> written_lines() const;

private:
    struct nearest_frame {
        bool found = false;
        uint64_t distance = 0;
        uint64_t ms = 0;
        can_frame frame{};
    };
    void check_screen(size_t i, const frame_buffer& screen);
    void check_pixel(size_t i, const frame_buffer& screen);
    void check_file(size_t i);
    void check_output(size_t i);
    void fail(size_t i, std::string detail);
    void seen(uint8_t port, uint64_t ms, const can_frame& frame, bool from_unit);

    std::vector<expectation> list_;
    check_options options_;
    std::vector<expect_outcome> outcomes_;
    std::vector<nearest_frame> nearest_;  // can: the closest frame with its id so far
    std::vector<size_t> at_ms_;           // screen, pixel and file, by time
    size_t next_at_ = 0;
    // The NAME_err.png pictures this run wrote: a later check of the same
    // reference neither removes nor overwrites them.
    std::vector<std::string> err_written_;
};

// Whether a frame has the identifier (and kind) an expectation names, and
// whether its data (for 'expect signal' its signal's value) matches too.
bool expectation_names(const expectation& e, const can_frame& frame);
bool expectation_matches(const expectation& e, const can_frame& frame);

}  // namespace norvane
