// The scenario parser: any text is a list of actions (and expectations) in
// order of time, or one error line that names its place and stays short and
// whole.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/core/scenario.h"
#include "host/core/scenario_verbs.h"

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
        // Every line read writes back as a line that reads back the same.
        for (const norvane::scenario_action& a : actions) {
            const std::string line = norvane::format_action(a);
            std::vector<norvane::scenario_action> again;
            check(norvane::parse_scenario(line, "again.txt", again, error) && again.size() == 1 &&
                      norvane::format_action(again[0]) == line,
                  "an action's line does not read back");
        }
        for (const norvane::expectation& e : expectations) {
            const std::string line = norvane::format_expectation(e);
            std::vector<norvane::scenario_action> none;
            std::vector<norvane::expectation> again;
            check(norvane::parse_scenario(line, "again.txt", none, again, error) && again.size() == 1 &&
                      norvane::format_expectation(again[0]) == line,
                  "an expectation's line does not read back");
        }
    } else {
        check(error.rfind("fuzz.txt:", 0) == 0, "error without its place");
        check(error.find('\0') == std::string::npos, "error with a NUL byte");
        check(error.size() < 1200, "error longer than a line can be");
        check(actions.empty() && expectations.empty(), "actions kept after an error");
    }
    return 0;
}
