// The scenario parser: any text is a list of actions (and expectations) in
// order of time, or one error line that names its place and stays short and
// whole.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/core/scenario.h"

using norvane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<norvane::scenario_action> actions;
    std::vector<norvane::expectation> expectations;
    std::string error;
    if (norvane::parse_scenario(text, "fuzz.txt", actions, expectations, error)) {
        for (size_t i = 1; i < actions.size(); ++i)
            check(actions[i - 1].ms <= actions[i].ms, "actions out of order of time");
    } else {
        check(error.rfind("fuzz.txt:", 0) == 0, "error without its place");
        check(error.find('\0') == std::string::npos, "error with a NUL byte");
        check(error.size() < 1200, "error longer than a line can be");
        check(actions.empty() && expectations.empty(), "actions kept after an error");
    }
    return 0;
}
