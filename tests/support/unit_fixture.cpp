#include "support/unit_fixture.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "host/core/screen_check.h"
#include "host/core/unit_workdir.h"

namespace norvane::testing {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "norvane-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void UnitTest::SetUp()
{
    std::string why;
    ASSERT_TRUE(prepare_unit_workdir(dir_.path().string(), why)) << why;
}

VirtualStepper& UnitTest::start()
{
    unit_ = std::make_unique<VirtualStepper>();
    return *unit_;
}

std::filesystem::path test_source_path(const std::string& relative)
{
    return std::filesystem::path(NORVANE_TESTS_ROOT) / relative;
}

std::string read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

int parse_run_options(std::vector<std::string> args, run_options& options, std::string& error)
{
    args.insert(args.begin(), "norvane-run");
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    return parse_run_arguments(int(argv.size()), argv.data(), options, error);
}

void write_file(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

::testing::AssertionResult frame_matches_golden(const frame_buffer& frame,
                                                const std::string& golden_path)
{
    const std::filesystem::path reference = test_source_path(golden_path);
    const char* update = std::getenv("NORVANE_UPDATE_GOLDENS");
    if (update && std::string(update) == "1") {
        const screen_check_result written = update_screen_reference(frame, reference.string());
        if (written.state == screen_check_state::failed)
            return ::testing::AssertionFailure() << written.detail;
        return ::testing::AssertionSuccess() << written.detail;
    }
    // The failed picture goes to the same place in the build folder, never
    // into the source tree.
    std::filesystem::path err = std::filesystem::path(NORVANE_TESTS_BUILD_ROOT) / golden_path;
    err.replace_filename(reference.stem().string() + "_err.png");
    screen_check_options check;
    check.reference = reference.string();
    check.err_file = err.string();
    check.missing_hint = "scripts/update-goldens.sh makes the references";
    const screen_check_result result = check_screen(frame, check);
    if (result.state == screen_check_state::passed)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << result.detail;
}

}  // namespace norvane::testing
