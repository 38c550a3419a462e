#include "support/unit_fixture.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/core/png_file.h"
#include "host/core/unit_workdir.h"
#include "support/test_os.h"

namespace norvane::testing {

TempDir::TempDir() : path_(make_temp_dir()) {}

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
    const rgb_image actual = frame_to_rgb(frame);
    std::string why;
    const char* update = std::getenv("NORVANE_UPDATE_GOLDENS");
    if (update && std::string(update) == "1") {
        std::filesystem::create_directories(reference.parent_path());
        if (!write_png(reference.string(), actual, why))
            return ::testing::AssertionFailure() << "cannot write " << reference << ": " << why;
        return ::testing::AssertionSuccess() << "wrote " << reference;
    }
    // The failed picture goes to the same place in the build folder, never
    // into the source tree.
    std::filesystem::path err = std::filesystem::path(NORVANE_TESTS_BUILD_ROOT) / golden_path;
    err.replace_filename(reference.stem().string() + "_err.png");
    std::error_code made;
    std::filesystem::create_directories(err.parent_path(), made);
    rgb_image expected;
    if (!read_png(reference.string(), expected, why)) {
        write_png(err.string(), actual, why);
        return ::testing::AssertionFailure()
               << "missing reference " << reference << " (" << why << "); the picture is in " << err
               << "; scripts/update-goldens.sh makes the references";
    }
    if (expected.width != actual.width || expected.height != actual.height ||
        expected.rgb != actual.rgb) {
        size_t first = 0;
        while (first < std::min(expected.rgb.size(), actual.rgb.size()) &&
               expected.rgb[first] == actual.rgb[first])
            ++first;
        write_png(err.string(), actual, why);
        const size_t px = first / 3;
        return ::testing::AssertionFailure()
               << "frame differs from " << reference << " first at x " << px % GFX_WIDTH << " y "
               << px / GFX_WIDTH << "; the frame is in " << err;
    }
    std::error_code ec;
    std::filesystem::remove(err, ec);
    return ::testing::AssertionSuccess();
}

}  // namespace norvane::testing
