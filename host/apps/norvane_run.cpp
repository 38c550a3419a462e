// norvane-run: the unit's firmware without a window, in virtual time.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "host/core/bitmap_file.h"
#include "host/core/unit_workdir.h"
#include "host/core/virtual_stepper.h"
#include "runtime/hal.h"

namespace {

const char* const USAGE =
    "usage: norvane-run [OPTIONS]\n"
    "Runs the display unit's firmware without a window, in virtual time.\n"
    "\n"
    "  --workdir DIR          working folder of the unit (rootfs/, eeprom.dat); created if\n"
    "                         missing; default: the current folder\n"
    "  --duration MS          unit time to run, in milliseconds (default 10000)\n"
    "  --screenshot MS:FILE   the screen as the window would show it at MS, as a 32-bit\n"
    "                         .bmp (307254 bytes); repeatable\n"
    "  --quiet                no summary line\n"
    "  --help                 this text\n";

struct screenshot_request {
    uint64_t ms;
    std::string path;
};

bool parse_ms(std::string_view text, uint64_t& out)
{
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

int bad_argument(const std::string& message)
{
    std::fprintf(stderr, "norvane-run: %s\n%s", message.c_str(), USAGE);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string workdir = ".";
    uint64_t duration = 10000;
    bool quiet = false;
    std::vector<screenshot_request> shots;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc)
                return nullptr;
            (void)name;
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--workdir") {
            const char* v = value("--workdir");
            if (!v || !*v)
                return bad_argument("--workdir needs a folder");
            workdir = v;
        } else if (arg == "--duration") {
            const char* v = value("--duration");
            if (!v || !parse_ms(v, duration))
                return bad_argument("--duration needs a number of milliseconds");
        } else if (arg == "--screenshot") {
            const char* v = value("--screenshot");
            const char* colon = v ? std::strchr(v, ':') : nullptr;
            screenshot_request shot;
            if (!colon || !parse_ms(std::string_view(v, size_t(colon - v)), shot.ms) || !colon[1])
                return bad_argument("--screenshot needs MS:FILE, for example 2500:page.bmp");
            shot.path = std::filesystem::absolute(colon + 1).string();
            shots.push_back(shot);
        } else {
            return bad_argument("unknown option '" + std::string(arg) + "'");
        }
    }

    std::string why;
    if (!norvane::prepare_unit_workdir(workdir, why)) {
        std::fprintf(stderr, "norvane-run: cannot use working folder '%s': %s\n", workdir.c_str(),
                     why.c_str());
        return 1;
    }

    const auto wall_start = std::chrono::steady_clock::now();
    norvane::VirtualStepper stepper;
    int status = 0;
    // A screenshot at MS is the frame after the last main step at or before MS.
    std::stable_sort(shots.begin(), shots.end(),
                     [](const screenshot_request& a, const screenshot_request& b) { return a.ms < b.ms; });
    for (const screenshot_request& shot : shots) {
        if (shot.ms > duration) {
            std::fprintf(stderr, "norvane-run: screenshot at %llu ms is after the end of the run\n",
                         static_cast<unsigned long long>(shot.ms));
            status = 1;
            continue;
        }
        stepper.run_until(shot.ms);
        if (!norvane::write_bitmap_file(shot.path, stepper.frame(), why)) {
            std::fprintf(stderr, "norvane-run: cannot write '%s': %s\n", shot.path.c_str(), why.c_str());
            status = 1;
        }
    }
    stepper.run_until(duration);

    const double wall_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    if (!quiet)
        std::printf("ran %llu ms of unit time in %.3f s (%.0f x real time)\n",
                    static_cast<unsigned long long>(duration), wall_s,
                    wall_s > 0 ? double(duration) / 1000.0 / wall_s : 0.0);
    return status;
}
