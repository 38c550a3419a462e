// The check of a screen against its reference picture: what 'expect screen'
// does, and what the test programs' golden pictures use.
#pragma once
#include <cstdint>
#include <string>

#include "seam/frame.h"

namespace norvane {

struct screen_check_options {
    std::string reference;      // the PNG to compare with
    uint32_t max_diff = 0;      // pixels allowed to differ
    std::string err_file;       // where the failed picture goes
    bool remove_stale_err = true;  // a pass removes an err_file left by an earlier run
    // Said after a reference that cannot be read: how to make it.
    std::string missing_hint;
};

enum class screen_check_state { passed, failed, written };

struct screen_check_result {
    screen_check_state state = screen_check_state::failed;
    // For a failure: what differs, then where the picture went ("; seen and
    // difference in FILE"); for a written reference: "wrote FILE".
    std::string detail;
    bool err_written = false;  // err_file holds this check's picture
};

// Compares the screen with the reference: a pass when the sizes agree and at
// most max_diff pixels differ. A failure writes err_file: the screen as seen
// when there is nothing to compare with (no reference, another size), else
// the screen on the left and the differences in magenta on the right.
screen_check_result check_screen(const frame_buffer& screen, const screen_check_options& options);

// Makes the reference hold the screen: passed when it already does, written
// when it was written (with its folder), failed when it could not be.
screen_check_result update_screen_reference(const frame_buffer& screen, const std::string& reference);

}  // namespace norvane
