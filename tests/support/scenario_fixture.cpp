#include "support/scenario_fixture.h"

#include <fstream>
#include <sstream>

#include "support/unit_fixture.h"

namespace norvane::testing {

std::map<std::string, frame_buffer> run_scenario_screens(const std::string& scenario_text,
                                                         const std::filesystem::path& workdir,
                                                         uint64_t duration_ms)
{
    std::map<std::string, frame_buffer> shots;
    run_options options;
    options.workdir = workdir.string();
    options.duration_ms = duration_ms;
    std::string error;
    if (!parse_scenario(scenario_text, "scenario", options.actions, error)) {
        ADD_FAILURE() << error;
        return shots;
    }
    options.on_screenshot = [&shots](const std::string& file, const frame_buffer& frame) {
        shots[file] = frame;
    };
    VirtualRun run(options);
    std::string why;
    if (!run.start(why)) {
        ADD_FAILURE() << why;
        return shots;
    }
    run.finish();
    return shots;
}

::testing::AssertionResult scenario_matches_goldens(const std::string& scenario_path, uint64_t duration_ms)
{
    std::ifstream in(test_source_path(scenario_path), std::ios::binary);
    if (!in)
        return ::testing::AssertionFailure() << "cannot read " << test_source_path(scenario_path);
    std::ostringstream text;
    text << in.rdbuf();

    run_options options;
    options.duration_ms = duration_ms;
    std::string error;
    if (!parse_scenario(text.str(), scenario_path, options.actions, error))
        return ::testing::AssertionFailure() << error;
    TempDir dir;
    options.workdir = dir.path().string();
    std::string failures;
    size_t shots = 0;
    options.on_screenshot = [&](const std::string& file, const frame_buffer& frame) {
        ++shots;
        const ::testing::AssertionResult one = frame_matches_golden(frame, file);
        if (!one)
            failures.append(failures.empty() ? "" : "\n").append(one.message());
    };
    VirtualRun run(options);
    if (!run.start(error))
        return ::testing::AssertionFailure() << error;
    run.finish();
    if (!failures.empty())
        return ::testing::AssertionFailure() << failures;
    if (shots == 0)
        return ::testing::AssertionFailure() << scenario_path << " takes no screenshot";
    return ::testing::AssertionSuccess();
}

int parse_run_options(std::vector<std::string> args, run_options& options, std::string& error)
{
    args.insert(args.begin(), "norvane-run");
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    return parse_run_arguments(int(argv.size()), argv.data(), options, error);
}

}  // namespace norvane::testing
