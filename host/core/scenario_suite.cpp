#include "host/core/scenario_suite.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <unistd.h>

#include "host/core/expectation.h"
#include "host/core/junit_report.h"
#include "host/core/scenario_apart.h"

namespace norvane {
namespace {

// Unit time a virtual run goes between two looks at the progress line.
constexpr uint64_t PROGRESS_STEP_MS = 250;

double steady_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void warn(const std::string& message)
{
    std::fprintf(stderr, "norvane-run: %s\n", message.c_str());
}

// Folder names for several units side by side: the scenario file's name
// without .txt, with -2, -3 ... when two files share a name.
std::vector<std::string> unit_folder_names(const std::vector<scenario_file>& scenarios)
{
    std::map<std::string, int> seen;
    std::vector<std::string> names;
    for (const scenario_file& s : scenarios) {
        const std::string stem = std::filesystem::path(s.path).stem().string();
        const int n = ++seen[stem];
        names.push_back(n == 1 ? stem : stem + "-" + std::to_string(n));
    }
    return names;
}

junit_case junit_of(const scenario_report& r)
{
    junit_case c;
    const std::filesystem::path path(r.path.empty() ? "norvane-run" : r.path);
    c.name = path.stem().string();
    c.classname = path.parent_path().generic_string();
    for (char& ch : c.classname)
        ch = ch == '/' ? '.' : ch;
    while (!c.classname.empty() && c.classname.front() == '.')
        c.classname.erase(0, 1);
    if (c.classname.empty())
        c.classname = "scenarios";
    c.file = r.path;
    c.time_s = r.run.wall_s;
    c.failures = r.failures;
    c.error = r.error;
    return c;
}

}  // namespace

ProgressLine::ProgressLine(std::FILE* out, bool enabled, std::function<double()> wall_s, double delay_s)
    : out_(out), enabled_(enabled), wall_s_(wall_s ? std::move(wall_s) : steady_seconds),
      start_s_(wall_s_()), delay_s_(delay_s)
{
}

void ProgressLine::show(const std::string& label, uint64_t unit_ms, uint64_t end_ms, double run_wall_s)
{
    if (!enabled_)
        return;
    const double now = wall_s_();
    if (now - start_s_ < delay_s_ || (shown_ && now - last_s_ < 0.1))
        return;
    last_s_ = now;
    shown_ = true;
    const double ratio = run_wall_s > 0 ? double(unit_ms) / 1000.0 / run_wall_s : 0.0;
    std::fprintf(out_, "\r%s%s%llu of %llu ms of unit time, %.0f x real time\033[K", label.c_str(),
                 label.empty() ? "" : ": ", static_cast<unsigned long long>(unit_ms),
                 static_cast<unsigned long long>(end_ms), ratio);
    std::fflush(out_);
}

void ProgressLine::clear()
{
    if (!shown_)
        return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    shown_ = false;
}

scenario_report run_scenario(const run_options& options, const std::string& path, ProgressLine& progress,
                             const std::string& label)
{
    scenario_report report;
    report.path = path;
    check_options checks;
    checks.update_references = options.update_references;
    checks.unit_dir = options.workdir.empty() ? "." : options.workdir;
    checks.output_dir = options.output_dir.empty() ? checks.unit_dir : options.output_dir;
    ExpectationCheck check(options.expectations, checks);
    run_options with_check = options;
    if (!options.expectations.empty())
        with_check.watcher = &check;

    if (options.realtime) {
        report.run = run_realtime(with_check);
    } else {
        const double start = steady_seconds();
        VirtualRun run(with_check);
        std::string why;
        if (!run.start(why)) {
            report.error = why;
            report.run.status = run.start_status();
            return report;
        }
        while (!run.ended()) {
            run.run_until(run.now() + PROGRESS_STEP_MS);
            progress.show(label.empty() ? (path.empty() ? "norvane-run" : path) : label, run.now(), run.end_ms(),
                          steady_seconds() - start);
        }
        report.run = run.finish();
    }
    progress.clear();
    report.expectations = check.expectations().size();
    report.passed = check.count(expect_state::passed);
    report.failures = check.failure_lines();
    report.written = check.written_lines();
    return report;
}

std::string verdict_line(size_t passed, size_t failed, size_t written)
{
    std::string line = std::to_string(passed) + " passed, " + std::to_string(failed) + " failed";
    if (written)
        line += "; " + std::to_string(written) + (written == 1 ? " reference" : " references") + " written";
    return line;
}

int run_scenarios(const run_options& options, std::FILE* out)
{
    ProgressLine progress(stderr, !options.quiet && ::isatty(STDERR_FILENO));
    std::vector<scenario_report> reports;
    const size_t files = options.scenarios.size();
    if (files <= 1) {
        reports.push_back(run_scenario(options, files ? options.scenarios.front().path : "", progress));
    } else {
        const std::vector<std::string> folders = unit_folder_names(options.scenarios);
        const std::filesystem::path base(options.workdir.empty() ? "." : options.workdir);
        for (size_t i = 0; i < files; ++i) {
            run_options one = options;
            one.scenarios.clear();
            one.actions = options.scenarios[i].actions;
            one.expectations = options.scenarios[i].expectations;
            one.workdir = (base / folders[i]).generic_string();
            // Each file's pictures in a folder of its own, as its unit is:
            // two files checking one reference would overwrite each other's.
            if (!options.output_dir.empty())
                one.output_dir = (std::filesystem::path(options.output_dir) / folders[i]).generic_string();
            const std::string label =
                options.scenarios[i].path + " (" + std::to_string(i + 1) + "/" + std::to_string(files) + ")";
            reports.push_back(run_apart(one, options.scenarios[i].path, progress, label));
            const scenario_report& r = reports.back();
            for (const std::string& line : r.failures)
                std::fprintf(out, "%s\n", line.c_str());
            if (!r.error.empty())
                warn(r.path + ": " + r.error);
            if (!options.quiet) {
                for (const std::string& line : r.written)
                    std::fprintf(out, "%s\n", line.c_str());
                if (r.run.ran)
                    std::fprintf(out, "%s: %s\n", r.path.c_str(), run_summary(r.run).c_str());
            }
            std::fflush(out);
        }
    }

    int status = RUN_OK;
    size_t passed = 0;
    size_t failed = 0;
    size_t written = 0;
    bool checked = files > 1;
    for (const scenario_report& r : reports) {
        passed += r.passed;
        failed += r.failures.size() + (r.error.empty() ? 0 : 1);
        written += r.written.size();
        checked = checked || r.expectations > 0;
        // A CAN port that cannot be opened is bad input, whatever else failed.
        if (r.run.status == RUN_BAD_INPUT)
            status = RUN_BAD_INPUT;
        else if ((r.run.status != RUN_OK || !r.error.empty() || !r.failures.empty()) && status != RUN_BAD_INPUT)
            status = RUN_FILE_ERROR;
    }
    if (files <= 1) {
        const scenario_report& r = reports.front();
        if (!r.error.empty())
            warn(r.error);
        for (const std::string& line : r.failures)
            std::fprintf(out, "%s\n", line.c_str());
        if (!options.quiet) {
            for (const std::string& line : r.written)
                std::fprintf(out, "%s\n", line.c_str());
            if (r.run.ran)
                std::fprintf(out, "%s\n", run_summary(r.run).c_str());
        }
    }
    if (checked && !options.quiet)
        std::fprintf(out, "%s\n", verdict_line(passed, failed, written).c_str());

    if (!options.junit.empty()) {
        std::vector<junit_case> cases;
        for (const scenario_report& r : reports)
            cases.push_back(junit_of(r));
        std::string why;
        if (!write_junit(options.junit, "norvane-run", cases, why)) {
            warn(why);
            status = RUN_FILE_ERROR;
        }
    }
    std::fflush(out);
    return status;
}

}  // namespace norvane
